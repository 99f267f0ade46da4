// The panel drawn from the server's control list, edits with their clamps, and the two refresh
// modes; the default tree is drawn and kept as a screenshot.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import {
  useServedPage, settle, control, typeValue, choose, text, count, ensureOutDir, drawnShare,
} from './support.mjs';

let page;
let session;
useServedPage((served) => {
  ({ page, session } = served);
});

test('the page shows the top controls above four tabs, and the default tree', async () => {
  const tabs = await page.$$eval('.tabs button', (b) => b.map((x) => x.textContent));
  assert.deepEqual(tabs, ['Tree', 'Twig', 'Leaf', 'Advanced']);
  for (const label of ['Refresh', 'Render Type', 'Presets', 'Add Preset', 'About'])
    assert.equal(await page.locator(`.top-controls [data-control-label="${label}"]`).count(), 1, label);
  assert.match(await text(page, '.top-controls .info-text'), /^1\.6\.\d+$/);
  assert.equal(await page.locator('[data-control-label="--hidden--"]').count(), 0);
  assert.equal(await control(page, 'Branches', 'Tree').count(), 1);
  assert.equal(await control(page, 'Type', 'Twig').locator('select option').count(), 7);
  assert.ok(await page.locator('hr.divider').count() > 5);
  // Values carry their units.
  assert.match(await control(page, 'Normals influence', 'Tree').getAttribute('data-text'), /%$/);
  assert.match(await control(page, 'Branch crookedness', 'Tree').getAttribute('data-text'), /°$/);
  assert.match(await control(page, 'Branch thickness', 'Tree').getAttribute('data-text'), / m$/);

  assert.ok((await count(page, 'count-polygons')) > 0);
  assert.match(await text(page, '#build-time'), /s$/);
  assert.ok(Number(await page.getAttribute('#view', 'data-lines')) > 0, 'the skeleton is drawn as lines');
  assert.ok((await drawnShare(page)) > 0.01, 'the view shows the tree');
  await page.screenshot({ path: join(ensureOutDir(), 'default-tree.png') });
  assert.deepEqual(session.errors, []);
});

test('"Render Type" rebuilds in Manual too: tubes, twigs and leaves', async () => {
  await choose(page, 'Refresh', 'Manual');
  const builds = await count(page, 'build-count');
  await choose(page, 'Type', 'random', 'Twig');
  assert.equal(await count(page, 'build-count'), builds);
  await choose(page, 'Render Type', 'Polygonal');
  assert.equal(await count(page, 'build-count'), builds + 1);
  assert.ok((await count(page, 'count-leaves')) > 0);
  assert.ok(Number(await page.getAttribute('#view', 'data-triangles')) > 0);
  assert.ok((await drawnShare(page)) > 0.01);
  await page.screenshot({ path: join(ensureOutDir(), 'polygonal-tree.png') });
  await choose(page, 'Refresh', 'Automatic');
  assert.deepEqual(session.errors, []);
});

test('the wind sways the tree', async () => {
  // A short digest of the canvas, so a failure does not print whole images.
  const frame = () => page.evaluate(() => {
    const url = document.querySelector('#view canvas').toDataURL();
    let h = 0;
    for (let i = 0; i < url.length; i += 1) h = (h * 31 + url.charCodeAt(i)) | 0;
    return h;
  });
  const still = await frame();
  await page.waitForTimeout(300);
  assert.equal(await frame(), still, 'without wind the view stands still');
  await page.check('#wind-toggle');
  await page.waitForTimeout(500);
  const a = await frame();
  let moved = false;
  for (let i = 0; i < 20 && !moved; i += 1) {
    await page.waitForTimeout(250);
    moved = (await frame()) !== a;
  }
  assert.ok(moved, 'the tree moves in the wind');
  await page.uncheck('#wind-toggle');
  assert.deepEqual(session.errors, []);
});

test('"Branches" 0 is stored as 2 and shown so', async () => {
  await typeValue(page, 'Branches', 'Tree', 0);
  assert.equal(await control(page, 'Branches', 'Tree').locator('input.value-input').inputValue(), '2');
  await typeValue(page, 'Branches', 'Tree', 40);
  assert.equal(await control(page, 'Branches', 'Tree').locator('input.value-input').inputValue(), '40');
});

test('in Automatic an edit rebuilds, in Manual only the Build button does', async () => {
  await choose(page, 'Refresh', 'Automatic');
  let builds = await count(page, 'build-count');
  let polygons = await count(page, 'count-polygons');
  await typeValue(page, 'Branches', 'Tree', 120);
  assert.ok((await count(page, 'build-count')) > builds);
  assert.notEqual(await count(page, 'count-polygons'), polygons);
  assert.equal(await page.getAttribute('#view', 'data-build'), await text(page, '#build-count'));

  await choose(page, 'Refresh', 'Manual');
  builds = await count(page, 'build-count');
  polygons = await count(page, 'count-polygons');
  await typeValue(page, 'Branches', 'Tree', 60);
  assert.equal(await count(page, 'build-count'), builds);
  assert.equal(await count(page, 'count-polygons'), polygons);

  await page.click('#build-button');
  await settle(page);
  assert.equal(await count(page, 'build-count'), builds + 1);
  assert.notEqual(await count(page, 'count-polygons'), polygons);
  assert.equal(await page.getAttribute('#view', 'data-build'), String(builds + 1));

  // Choosing "Manual" again asks for one build.
  await choose(page, 'Refresh', 'Manual');
  assert.equal(await count(page, 'build-count'), builds + 2);
  await choose(page, 'Refresh', 'Automatic');
});

test('a check box, a popup and the buttons go through the server', async () => {
  await page.click('.tabs button[data-tab="Advanced"]');
  const check = control(page, 'Assign Thick Weight Map', 'Advanced').locator('input[type=checkbox]');
  const wasChecked = await check.isChecked();
  await check.click();
  await settle(page);
  assert.equal(await check.isChecked(), !wasChecked);

  await choose(page, 'Render Type', 'Skeleton');
  assert.equal(await count(page, 'count-leaves'), 0);
  assert.ok(Number(await page.getAttribute('#view', 'data-lines')) > 0, 'the skeleton is drawn as lines');

  await control(page, 'About').locator('button').click();
  await settle(page);
  assert.match(await text(page, '#message'), /^ramulon 1\.6\./);

  // "Presets" shows and hides the shelf.
  const presets = control(page, 'Presets').locator('button');
  const collapsed = () => page.$eval('#shelf-section', (e) => e.classList.contains('collapsed'));
  await presets.click();
  await settle(page);
  assert.equal(await collapsed(), true);
  assert.equal(await page.isHidden('#shelf-empty'), true);
  await presets.click();
  await settle(page);
  assert.equal(await collapsed(), false);
});

test('a long build shows its progress bar while it runs', async () => {
  // Tubes for 10,000 branches take a second or more even on a fast machine with the lean host,
  // long enough for the page's progress poll (every 200 ms) to see the build running.
  await choose(page, 'Render Type', 'Polygonal');
  await page.evaluate(() => { delete document.body.dataset.progressShown; });
  await typeValue(page, 'Branches', 'Tree', 10000);
  assert.ok((await page.getAttribute('body', 'data-progress-shown') || '').length > 0, 'no progress shown');
  assert.equal(await page.isHidden('#progress'), true);
  await typeValue(page, 'Branches', 'Tree', 150);
});
