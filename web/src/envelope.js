// The background envelope: one of the shipped samples, or an OBJ file of the user's own.
import { api, ApiError } from './api.js';

export const MAX_UPLOAD_BYTES = 20 * 1024 * 1024;

export function createEnvelope({ change, onError }) {
  const select = document.getElementById('sample-select');
  const upload = document.getElementById('upload-input');
  const info = document.getElementById('background-info');
  const custom = document.createElement('option');
  custom.value = '';
  custom.disabled = true;

  async function loadSamples() {
    try {
      const samples = await api.samples();
      select.replaceChildren(custom, ...samples.map((name) => {
        const o = document.createElement('option');
        o.value = name;
        o.textContent = name.replace(/_/g, ' ');
        return o;
      }));
    } catch (e) {
      onError(e);
    }
  }

  select.addEventListener('change', () => {
    if (!select.value) return;
    change(() => api.loadSample(select.value));
  });

  upload.addEventListener('change', () => {
    const file = upload.files && upload.files[0];
    upload.value = '';
    if (!file) return;
    if (file.size > MAX_UPLOAD_BYTES) {
      onError(new ApiError(413, 'The file is larger than 20 MB.'));
      return;
    }
    change(() => api.upload(file));
  });

  // Shows the state's background: its name in the select (an uploaded one as its own entry).
  function show(background) {
    if (!background) return;
    const known = [...select.options].some((o) => o.value === background.name && o !== custom);
    custom.textContent = known ? '' : background.name;
    custom.hidden = known;
    select.value = known ? background.name : '';
    info.textContent = `${background.name}: ${background.points} points, ${background.polygons} polygons`;
  }

  return { loadSamples, show };
}
