// Levels of detail in the page: the level selector with its triangle counts, the far card in the
// view, and the game-ready download read back by the page's own loader and meshopt decoder.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { useServedPage, settle, choose, count, ensureOutDir } from './support.mjs';

let page;
let session;
useServedPage((served) => {
  ({ page, session } = served);
});

async function levelCounts() {
  return page.$$eval('#lod-counts [data-level]', (items) =>
    items.map((i) => ({ label: i.dataset.level, triangles: Number(i.dataset.triangles) })));
}

async function drawnTriangles() {
  return Number(await page.getAttribute('#view', 'data-triangles'));
}

test('the level selector lists LOD0 to LOD3 and the far card, each drawn alone', async () => {
  await choose(page, 'Type', 'random', 'Twig');
  await choose(page, 'Render Type', 'Polygonal');
  assert.ok((await count(page, 'count-leaves')) > 0);
  // Until they are asked for, the view draws the plain tree and offers no levels.
  assert.equal(await page.isHidden('#level-choice'), true);
  await page.check('#show-levels');
  await settle(page);

  const levels = await levelCounts();
  assert.deepEqual(levels.map((l) => l.label), ['LOD0', 'LOD1', 'LOD2', 'LOD3', 'far card']);
  assert.deepEqual(await page.$$eval('#lod-select option', (o) => o.map((x) => x.textContent)),
    ['LOD0', 'LOD1', 'LOD2', 'LOD3', 'far card']);
  const [lod0, lod1, lod2, lod3, far] = levels.map((l) => l.triangles);
  assert.ok(lod0 > lod1 && lod1 > lod2 && lod2 > lod3 && lod3 > far, JSON.stringify(levels));
  assert.ok(Math.abs(lod1 / lod0 - 0.5) < 0.05, JSON.stringify(levels));
  assert.equal(far, 16);

  // LOD0 is what the view shows first; each choice draws that level alone.
  assert.equal(await page.inputValue('#lod-select'), 'LOD0');
  assert.equal(await drawnTriangles(), lod0);
  await page.selectOption('#lod-select', 'LOD2');
  assert.equal(await drawnTriangles(), lod2);
  await page.selectOption('#lod-select', 'far card');
  assert.equal(await drawnTriangles(), 16);
  await page.screenshot({ path: join(ensureOutDir(), 'far-card.png') });

  // The choice outlives a rebuild.
  await page.click('#build-button');
  await settle(page);
  assert.equal(await page.inputValue('#lod-select'), 'far card');
  assert.equal(await drawnTriangles(), 16);
  await page.selectOption('#lod-select', 'LOD0');
  await page.uncheck('#show-levels');
  await settle(page);
  assert.equal(await page.isHidden('#level-choice'), true);
  assert.equal(await drawnTriangles(), lod0);
  assert.deepEqual(session.errors, []);
});

test('the game-ready GLB loads through three.js with its meshopt decoder', async () => {
  await page.check('#export-game-ready');
  const href = await page.getAttribute('#download-glb', 'href');
  assert.equal(href, '/api/export.glb?lod=4&impostor=1&compress=1');
  await page.check('#show-levels');
  await settle(page);
  const plain = await levelCounts();
  const loaded = await page.evaluate((url) => window.ramulon.inspectGlb(url), href);
  assert.deepEqual(loaded.levels.map((l) => l.name), ['tree_LOD0', 'tree_LOD1', 'tree_LOD2', 'tree_LOD3', 'tree_LOD_FAR']);
  assert.deepEqual(loaded.levels.map((l) => l.triangles), plain.map((l) => l.triangles));
  // Every level wears the tree's textured materials, and the far card shows its atlas.
  assert.ok(loaded.textures >= loaded.levels.length, `${loaded.textures} textured meshes`);

  await page.uncheck('#export-game-ready');
  await page.uncheck('#show-levels');
  await settle(page);
  assert.equal(await page.getAttribute('#download-glb', 'href'), '/api/export.glb');
  assert.deepEqual(session.errors, []);
});
