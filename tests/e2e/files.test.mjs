// Files in and out: the exported GLB passes the glTF validator, envelopes come from the samples
// or an upload, and a bad upload leaves its message and the old envelope.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { existsSync, readFileSync, writeFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { promisify } from 'node:util';
import { useServedPage, settle, choose, text, count, tempDir, sourceDir } from './support.mjs';

const validator = join(sourceDir, 'tools', 'gltf-validate', 'validate.js');

let page;
let server;
let scratch;
useServedPage((served) => {
  ({ page, server } = served);
  scratch = tempDir('files');
});

after(() => {
  rmSync(scratch, { recursive: true, force: true });
});

async function download(selector, name) {
  const [file] = await Promise.all([page.waitForEvent('download'), page.click(selector)]);
  assert.equal(file.suggestedFilename(), name);
  const path = join(scratch, name);
  await file.saveAs(path);
  return path;
}

test('the downloaded GLB passes the glTF validator; the OBJ comes too', async (t) => {
  // Tubes, twigs and leaves, so the file carries every surface and the wind's attributes.
  await choose(page, 'Type', 'random', 'Twig');
  await choose(page, 'Render Type', 'Polygonal');
  assert.ok((await count(page, 'count-leaves')) > 0);
  const glb = await download('#download-glb', 'tree.glb');
  // Headless Chromium holds a page's second download back for most of a minute (its guard
  // against automatic multiple downloads), so the OBJ link is followed from here.
  const obj = await fetch(server.url + (await page.getAttribute('#download-obj', 'href')));
  assert.equal(obj.status, 200);
  assert.match(obj.headers.get('content-disposition'), /attachment; filename="tree.obj"/);
  assert.match(await obj.text(), /usemtl VF_leaf/);
  // The textures the MTL names come with it.
  const bark = await fetch(server.url + (await page.getAttribute('#download-bark', 'href')));
  assert.equal(bark.status, 200);
  assert.equal(Buffer.from(await bark.arrayBuffer()).subarray(1, 4).toString(), 'PNG');
  if (!existsSync(join(sourceDir, 'tools', 'gltf-validate', 'node_modules', 'gltf-validator'))) {
    t.skip('the glTF validator is not installed (tools/gltf-validate/install.sh)');
    return;
  }
  const { stdout } = await promisify(execFile)('node', [validator, glb]);
  assert.match(stdout, /: 0 errors,/);
  const json = readFileSync(glb).subarray(20, 20 + readFileSync(glb).readUInt32LE(12)).toString();
  for (const name of ['RM_trunk', 'RM_branch', 'RM_twig', 'VF_leaf', '_WIND', '_RM_VECTORS', '_RM_RANGE', '_RM_THICK'])
    assert.ok(json.includes(`"${name}"`), name);
  // What the page draws: the bark with its relief on every woody surface, the leaves masked by
  // the atlas.
  const gltf = JSON.parse(json);
  assert.equal(gltf.images.length, 3);
  for (const material of gltf.materials) {
    const texture = material.pbrMetallicRoughness.baseColorTexture;
    assert.ok(texture, `${material.name} has a texture`);
    if (material.name === 'VF_leaf') assert.equal(material.alphaMode, 'MASK');
    else assert.ok(material.normalTexture, `${material.name} has the bark's relief`);
  }
});

async function upload(name, contents) {
  const path = join(scratch, name);
  writeFileSync(path, contents);
  await page.setInputFiles('#upload-input', path);
  await settle(page);
}

test('a sample envelope regrows the tree; a malformed upload shows why and keeps it', async () => {
  const builds = await count(page, 'build-count');
  await page.selectOption('#sample-select', 'tall_crown');
  await settle(page);
  assert.match(await text(page, '#background-info'), /^tall_crown:/);
  assert.ok((await count(page, 'build-count')) > builds);
  assert.equal(await page.isHidden('#message'), true);

  await upload('lines.obj', 'v 0 0 0\nv 1 0 0\nl 1 2\n');
  assert.equal(await page.getAttribute('#message', 'data-kind'), 'error');
  assert.equal(await text(page, '#message'), 'lines.obj has no polygons of three or more points to grow a tree in.');
  assert.match(await text(page, '#background-info'), /^tall_crown:/);

  await upload('garbage.obj', 'garbage here\nf 1 2 3\n');
  assert.equal(await text(page, '#message'), 'garbage.obj:1: unknown statement "garbage"');
  assert.match(await text(page, '#background-info'), /^tall_crown:/);

  await upload('box.obj', [
    'v 0 1 0', 'v 2 1 0', 'v 2 1 2', 'v 0 1 2', 'v 0 4 0', 'v 2 4 0', 'v 2 4 2', 'v 0 4 2',
    'f 1 2 3 4', 'f 5 8 7 6', 'f 1 5 6 2', 'f 2 6 7 3', 'f 3 7 8 4', 'f 4 8 5 1', '',
  ].join('\n'));
  assert.equal(await page.isHidden('#message'), true);
  assert.match(await text(page, '#background-info'), /: 8 points, 6 polygons$/);
});

test('a file over 20 MB is refused in the page', async () => {
  const builds = await count(page, 'build-count');
  await page.evaluate(() => {
    const input = document.getElementById('upload-input');
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(20 * 1024 * 1024 + 1)], 'huge.obj'));
    input.files = transfer.files;
    input.dispatchEvent(new Event('change'));
  });
  assert.equal(await text(page, '#message'), 'The file is larger than 20 MB.');
  assert.equal(await count(page, 'build-count'), builds);
});
