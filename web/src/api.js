// The server's HTTP interface: every call answers parsed JSON or throws an ApiError carrying
// the server's own one-sentence explanation.

export class ApiError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

async function request(method, path, { json, body, headers } = {}) {
  const init = { method, headers: { ...(headers || {}) } };
  if (json !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(json);
  } else if (body !== undefined) {
    init.body = body;
  }
  let response;
  try {
    response = await fetch(path, init);
  } catch (e) {
    throw new ApiError(0, 'The server cannot be reached.');
  }
  const text = await response.text();
  let data = null;
  try {
    data = text ? JSON.parse(text) : null;
  } catch (e) {
    data = null;
  }
  if (!response.ok) {
    const message = data && typeof data.error === 'string' ? data.error : `The server answered ${response.status}.`;
    throw new ApiError(response.status, message);
  }
  return data;
}

export const api = {
  state: () => request('GET', '/api/state'),
  progress: () => request('GET', '/api/progress'),
  samples: () => request('GET', '/api/samples'),
  shelf: () => request('GET', '/api/shelf'),
  background: () => request('GET', '/api/background.json'),

  set: (id, value) => request('POST', '/api/set', { json: { id, value } }),
  press: (id) => request('POST', '/api/press', { json: { id } }),
  build: () => request('POST', '/api/build', { json: {} }),
  loadSample: (sample) => request('POST', '/api/background', { json: { sample } }),
  upload: (file) =>
    request('POST', '/api/background/upload', {
      body: file,
      headers: { 'Content-Type': 'application/octet-stream', 'X-Filename': file.name },
    }),
  addPreset: (name, overwrite) => request('POST', '/api/shelf/add', { json: { name, overwrite } }),
  applyPreset: (name) => request('POST', '/api/shelf/apply', { json: { name } }),
};

// The built tree as GLB bytes, with the seconds the server spent writing them (its
// Server-Timing "glb" entry; null when it gave none). withLevels: with its levels of detail and
// far card, for the view's level selector. The server makes one export at a time: while
// another runs it answers 503 with the seconds to wait, and the view waits its turn. A build
// that another page has replaced meanwhile is answered 409 (StaleMesh): the page asks for the
// state again, so that it never shows one build's counts with another build's mesh.
export class StaleMesh extends ApiError {}

export async function fetchMesh(buildCount, withLevels) {
  const levels = withLevels ? '&lod=4&impostor=1' : '';
  let response;
  for (let attempt = 0; ; attempt += 1) {
    response = await fetch(`/api/mesh.glb?n=${buildCount}${levels}`);
    const wait = Number(response.headers.get('Retry-After'));
    if (response.status !== 503 || !(wait > 0) || attempt >= 20) break;
    await new Promise((r) => setTimeout(r, wait * 1000));
  }
  if (response.status === 404) return null;
  if (response.status === 409) throw new StaleMesh(409, 'The tree was rebuilt meanwhile.');
  if (!response.ok) {
    let message = `The mesh could not be loaded (${response.status}).`;
    try {
      const data = await response.json();
      if (data && typeof data.error === 'string') message = data.error;
    } catch (e) {
      // not the server's JSON: the status says it
    }
    throw new ApiError(response.status, message);
  }
  const timing = /(?:^|,)\s*glb;dur=([0-9.]+)/.exec(response.headers.get('Server-Timing') || '');
  return { bytes: await response.arrayBuffer(), seconds: timing ? Number(timing[1]) / 1000 : null };
}
