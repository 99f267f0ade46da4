// The preset shelf: thumbnails with names (a click applies one), and the small dialog that
// names a new preset, asking before it replaces one of the same name.
import { api, ApiError } from './api.js';

export function createShelf({ perform, change, onError }) {
  const list = document.getElementById('shelf');
  const empty = document.getElementById('shelf-empty');
  const dialog = document.getElementById('preset-dialog');
  const form = document.getElementById('preset-form');
  const nameInput = document.getElementById('preset-name');
  const errorText = document.getElementById('preset-error');
  const overwrite = document.getElementById('preset-overwrite');
  let version = 0;

  function show(presets) {
    version += 1;
    list.replaceChildren();
    for (const p of presets) {
      const item = document.createElement('button');
      item.type = 'button';
      item.className = 'preset';
      item.dataset.preset = p.name;
      item.title = `Apply "${p.name}"`;
      const img = document.createElement('img');
      img.alt = p.name;
      img.src = `${p.thumbnail}?v=${version}`;
      const label = document.createElement('span');
      label.textContent = p.name;
      item.append(img, label);
      item.addEventListener('click', () => apply(p.name));
      list.append(item);
    }
    empty.hidden = presets.length > 0;
  }

  async function refresh() {
    try {
      show(await api.shelf());
    } catch (e) {
      onError(e);
    }
  }

  function apply(name) {
    return change(() => api.applyPreset(name));
  }

  function close() {
    dialog.hidden = true;
    errorText.hidden = true;
    overwrite.hidden = true;
  }

  function open() {
    close();
    dialog.hidden = false;
    nameInput.value = '';
    nameInput.focus();
  }

  async function save(replace) {
    const name = nameInput.value.trim();
    try {
      await perform(async () => {
        const answer = await api.addPreset(name, replace);
        close();
        if (answer.shelf) show(answer.shelf);
        return answer;
      });
    } catch (e) {
      if (!(e instanceof ApiError)) {
        onError(e);
        return;
      }
      // A 409 also answers "build a tree first"; only a taken name can be overwritten.
      const taken = e.status === 409 && /already exists/.test(e.message);
      errorText.textContent = taken ? `${e.message} Overwrite it?` : e.message;
      errorText.hidden = false;
      overwrite.hidden = !taken;
    }
  }

  form.addEventListener('submit', (event) => {
    event.preventDefault();
    save(false);
  });
  overwrite.addEventListener('click', () => save(true));
  document.getElementById('preset-cancel').addEventListener('click', close);
  dialog.addEventListener('keydown', (event) => { if (event.key === 'Escape') close(); });
  nameInput.addEventListener('input', () => {
    errorText.hidden = true;
    overwrite.hidden = true;
  });

  return { refresh, open, toggle: () => document.getElementById('shelf-section').classList.toggle('collapsed') };
}
