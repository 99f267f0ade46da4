// The page: the panel, the view and the side sections, all driven by the server's state.
import { api, fetchMesh, StaleMesh } from './api.js';
import { run } from './progress.js';
import { createPanel } from './panel.js';
import { createView, createLoader, findLevels } from './view.js';
import { createShelf } from './shelf.js';
import { createEnvelope } from './envelope.js';

const view = createView(document.getElementById('view'));
const viewBox = document.getElementById('view');
const message = document.getElementById('message');

let meshShown = -1;
let backgroundShown = '';

function showMessage(kind, text) {
  message.hidden = !text;
  message.textContent = text || '';
  message.className = kind === 'error' ? 'error' : 'info';
  message.dataset.kind = kind;
}

function showError(e) {
  showMessage('error', e && e.message ? e.message : String(e));
}

// What an edit cost on the server: the build, and the GLB written for the view once it arrives.
let buildSeconds = null;
let glbSeconds = null;

function showBuildTime() {
  const element = document.getElementById('build-time');
  if (buildSeconds === null) {
    element.textContent = '–';
    element.title = '';
    return;
  }
  const total = buildSeconds + (glbSeconds || 0);
  element.textContent = `${total.toFixed(2)} s`;
  element.title = glbSeconds === null
    ? `build ${buildSeconds.toFixed(3)} s`
    : `build ${buildSeconds.toFixed(3)} s + GLB ${glbSeconds.toFixed(3)} s`;
}

function showCounts(build) {
  const set = (id, v) => { document.getElementById(id).textContent = v; };
  set('count-points', build.points);
  set('count-polygons', build.polygons);
  set('count-leaves', build.leaves);
  set('build-count', build.count);
  buildSeconds = build.count > 0 ? Number(build.seconds) : null;
  showBuildTime();
  const error = document.getElementById('build-error');
  error.hidden = !build.error;
  error.textContent = build.error || '';
}

// The level selector: one entry per level the view's GLB holds, with its triangles beside it.
const lodSelect = document.getElementById('lod-select');
const lodCounts = document.getElementById('lod-counts');

function showLevels() {
  const levels = view.levels();
  const chosen = lodSelect.value || 'LOD0';
  lodSelect.replaceChildren(...levels.map((l) => new Option(l.label, l.label)));
  lodSelect.value = levels.some((l) => l.label === chosen) ? chosen : (levels[0] ? levels[0].label : '');
  lodCounts.replaceChildren(...levels.map((l) => {
    const item = document.createElement('span');
    item.dataset.level = l.label;
    item.dataset.triangles = String(l.triangles);
    item.textContent = `${l.label} ${l.triangles.toLocaleString('en')}`;
    return item;
  }));
  document.getElementById('level-choice').hidden = levels.length === 0;
  if (lodSelect.value) view.showLevel(lodSelect.value);
}

lodSelect.addEventListener('change', () => view.showLevel(lodSelect.value));

// The levels and the far card cost the server a simplification per build, so the view asks
// for them only while they are wanted; a slider drag otherwise redraws the plain tree.
let withLevels = false;
document.getElementById('show-levels').addEventListener('change', (e) => {
  withLevels = e.target.checked;
  run(async () => {
    const count = meshShown;
    meshShown = -1;
    await showMesh(count);
  }).catch(showError);
});

// The game-ready download: four levels, the far card, compressed buffers.
document.getElementById('export-game-ready').addEventListener('change', (e) => {
  document.getElementById('download-glb').href = e.target.checked
    ? '/api/export.glb?lod=4&impostor=1&compress=1' : '/api/export.glb';
});

// For the console and the end-to-end tests: what the page's own loader makes of a GLB.
window.ramulon = {
  async inspectGlb(url) {
    const response = await fetch(url);
    const gltf = await createLoader().parseAsync(await response.arrayBuffer(), '');
    let textures = 0;
    gltf.scene.traverse((o) => { if (o.material && o.material.map) textures += 1; });
    return { levels: findLevels(gltf.scene).map(({ name, label, triangles }) => ({ name, label, triangles })), textures };
  },
};

async function showMesh(count) {
  if (count === meshShown) return;
  let mesh;
  try {
    mesh = count > 0 ? await fetchMesh(count, withLevels) : null;
  } catch (e) {
    // Another page built meanwhile: show that build, counts and mesh together.
    if (e instanceof StaleMesh) return applyState(await api.state());
    throw e;
  }
  glbSeconds = mesh ? mesh.seconds : null;
  showBuildTime();
  await view.showTree(mesh ? mesh.bytes : null);
  showLevels();
  meshShown = count;
  viewBox.dataset.build = String(count);
}

async function showBackground(background) {
  const key = background ? `${background.name}/${background.points}/${background.polygons}` : '';
  if (key === backgroundShown) return;
  view.showEnvelope(background ? await api.background() : null);
  backgroundShown = key;
}

const panel = createPanel(document.getElementById('panel'), {
  onSet: (control, value) => change(() => api.set(control.id, value)),
  onPress: (control) => {
    if (control.label === 'Add Preset') {
      shelf.open();
      return;
    }
    if (control.label === 'Presets') shelf.toggle();
    change(() => api.press(control.id));
  },
});

// Applies a state from the server: panel, counts, messages, and the mesh when a build happened.
async function applyState(state) {
  document.title = state.title || 'Ramulon';
  document.getElementById('panel-title').textContent = state.title;
  const badge = document.getElementById('active-state');
  badge.textContent = state.active ? 'active' : 'inactive';
  badge.classList.toggle('on', state.active);
  panel.update(state);
  // "Manual" or "Automatic": the Build button stands out in Manual.
  const refresh = state.controls.find((c) => c.label === 'Refresh');
  document.body.dataset.refresh = refresh ? refresh.text : '';
  showCounts(state.build);
  envelope.show(state.background);
  const messages = state.messages || [];
  if (messages.length > 0) {
    const last = messages.some((m) => m.kind === 'error') ? 'error' : 'info';
    showMessage(last, messages.map((m) => m.text).join('\n'));
  }
  await Promise.all([showMesh(state.build.count), showBackground(state.background)]);
  document.body.dataset.ready = 'true';
  return state;
}

// Runs one change request and shows its answer; the mesh is reloaded within the same queued
// task, so the page is idle only once the view is up to date. Rejects with the server's error.
function perform(request) {
  return run(async () => {
    const state = await request();
    showMessage('info', '');
    await applyState(state);
    return state;
  });
}

// The same, with a failure shown in the message area.
function change(request) {
  return perform(request).catch(showError);
}

const shelf = createShelf({ perform, change, onError: showError });
const envelope = createEnvelope({ change, onError: showError });

document.getElementById('build-button').addEventListener('click', () => change(() => api.build()));
document.getElementById('wind-toggle').addEventListener('change', (e) => view.setWind(e.target.checked));

async function start() {
  await envelope.loadSamples();
  await shelf.refresh();
  await run(async () => applyState(await api.state())).catch(showError);
}

start();
