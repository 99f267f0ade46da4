// Runs the page's requests one after another and, while one runs, polls the server's progress
// every 200 ms so a long build shows its bar and title.
import { api } from './api.js';

const POLL_MS = 200;

let queue = Promise.resolve();
let running = 0;

function show(progress) {
  const box = document.getElementById('progress');
  if (!progress || !progress.building) {
    box.hidden = true;
    return;
  }
  box.hidden = false;
  // A long step of its own (writing the mesh) replaces the growth's bar while it runs.
  const shown = progress.step || progress;
  document.body.dataset.progressShown = shown.title || 'Building';
  document.getElementById('progress-title').textContent =
    shown.total > 0 ? `${shown.title || 'Building'} — ${shown.done} / ${shown.total}` : shown.title || 'Building';
  const fraction = shown.total > 0 ? Math.min(1, shown.done / shown.total) : 0;
  document.getElementById('progress-fill').style.width = `${(fraction * 100).toFixed(1)}%`;
}

async function withPolling(task) {
  let polling = true;
  const poll = async () => {
    while (polling) {
      try {
        const p = await api.progress();
        if (polling) show(p);
      } catch (e) {
        // The progress is only a courtesy: the request itself reports failures.
      }
      await new Promise((r) => setTimeout(r, POLL_MS));
    }
  };
  const poller = poll();
  try {
    return await task();
  } finally {
    polling = false;
    await poller.catch(() => {});
    show(null);
  }
}

// Queues task (an async function) behind the requests already running; the page's busy flag is
// set while any runs.
export function run(task) {
  running += 1;
  document.body.dataset.busy = 'true';
  const result = queue.then(() => withPolling(task));
  queue = result.catch(() => {}).finally(() => {
    running -= 1;
    if (running === 0) delete document.body.dataset.busy;
  });
  return result;
}
