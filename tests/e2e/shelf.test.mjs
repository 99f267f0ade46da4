// Presets from the page: the in-page naming dialog, the thumbnail on the shelf, the question
// before replacing one, and applying a preset restoring its values.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { useServedPage, settle, control, typeValue, text } from './support.mjs';

let page;
useServedPage((served) => {
  ({ page } = served);
});

async function addPreset(name) {
  await control(page, 'Add Preset').locator('button').click();
  await page.waitForSelector('#preset-dialog:not([hidden])');
  await page.fill('#preset-name', name);
  await page.click('#preset-save');
  await settle(page);
}

function branches() {
  return control(page, 'Branches', 'Tree').locator('input.value-input');
}

test('a new preset shows its thumbnail, and applying it restores its values', async () => {
  await typeValue(page, 'Branches', 'Tree', 33);
  await addPreset('thirty three');
  assert.equal(await page.isHidden('#preset-dialog'), true);
  const item = page.locator('#shelf [data-preset="thirty three"]');
  await item.waitFor();
  const img = item.locator('img');
  await page.waitForFunction((el) => el.complete && el.naturalWidth > 0, await img.elementHandle());
  assert.equal(await img.evaluate((el) => el.naturalWidth), 128);

  await typeValue(page, 'Branches', 'Tree', 70);
  assert.equal(await branches().inputValue(), '70');
  await item.click();
  await settle(page);
  assert.equal(await branches().inputValue(), '33');
});

test('an existing name asks before it is overwritten; a bad name is refused', async () => {
  await addPreset('thirty three');
  assert.equal(await page.isVisible('#preset-dialog'), true);
  assert.match(await text(page, '#preset-error'), /A preset named "thirty three" already exists\./);
  assert.equal(await page.isVisible('#preset-overwrite'), true);
  await page.click('#preset-overwrite');
  await settle(page);
  assert.equal(await page.isHidden('#preset-dialog'), true);
  assert.equal(await page.locator('#shelf [data-preset]').count(), 1);

  await addPreset('no/slashes');
  assert.match(await text(page, '#preset-error'), /Preset names may use letters, digits, spaces, - and _ only\./);
  assert.equal(await page.isHidden('#preset-overwrite'), true);
  await page.click('#preset-cancel');
  assert.equal(await page.isHidden('#preset-dialog'), true);
  assert.equal(await page.locator('#shelf [data-preset]').count(), 1);
});
