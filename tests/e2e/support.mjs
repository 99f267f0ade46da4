// Shared by the end-to-end tests: starts `ramulon serve` on a free port with a shelf of its
// own, drives headless Chromium (software WebGL) against it, and waits for the page to settle.
import { spawn } from 'node:child_process';
import { before, after } from 'node:test';
import { mkdtempSync, rmSync, mkdirSync, existsSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
export const sourceDir = resolve(here, '../..');
export const outDir = join(sourceDir, 'out', 'e2e');
const requireFromWeb = createRequire(join(sourceDir, 'web', 'package.json'));
const { chromium } = requireFromWeb('playwright-core');

export const cli = process.env.RAMULON_CLI || resolve(here, '../../build/ramulon');
export const chromiumPath = process.env.RAMULON_CHROMIUM || '/usr/bin/chromium';

const CHROMIUM_ARGS = [
  '--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--use-gl=swiftshader', '--enable-unsafe-swiftshader',
];

export function tempDir(prefix) {
  return mkdtempSync(join(tmpdir(), `ramulon-e2e-${prefix}-`));
}

// Starts the server and resolves once it names its address.
export function startServer() {
  const shelf = tempDir('shelf');
  const child = spawn(cli, ['serve', '--port', '0', '--shelf', shelf], {
    cwd: sourceDir,
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let log = '';
  child.stderr.on('data', (d) => { log += d; });
  return new Promise((resolvePromise, reject) => {
    let out = '';
    const timer = setTimeout(() => {
      child.kill('SIGKILL');
      reject(new Error(`ramulon serve did not start within 60 s\n${out}${log}`));
    }, 60000);
    child.on('error', (e) => {
      clearTimeout(timer);
      reject(new Error(`cannot start ${cli}: ${e.message}`));
    });
    child.on('exit', (code) => {
      clearTimeout(timer);
      reject(new Error(`ramulon serve exited with ${code} before serving\n${out}${log}`));
    });
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/Serving on (http:\/\/\S+)/);
      if (!m) return;
      clearTimeout(timer);
      child.removeAllListeners('exit');
      const url = m[1].replace(/\/$/, '');
      resolvePromise({
        url,
        shelf,
        log: () => log,
        // Stops the server as Ctrl-C would; resolves with its exit code (0 when it stopped
        // cleanly, so a sanitizer's report at exit shows up here).
        async stop() {
          if (child.exitCode === null && child.signalCode === null) {
            const exited = new Promise((r) => child.once('exit', r));
            child.kill('SIGTERM');
            const t = setTimeout(() => child.kill('SIGKILL'), 10000);
            await exited;
            clearTimeout(t);
          }
          rmSync(shelf, { recursive: true, force: true });
          return child.exitCode;
        },
      });
    });
  });
}

// A fresh browser profile and one page on the server's root, waiting until the first state is
// shown.
export async function openPage(server) {
  const profile = tempDir('profile');
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    args: CHROMIUM_ARGS,
    viewport: { width: 1280, height: 800 },
    acceptDownloads: true,
  });
  const page = context.pages()[0] || (await context.newPage());
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  // Shader compile errors arrive as console errors; refused requests (4xx) are expected.
  page.on('console', (m) => {
    if (m.type() === 'error' && !/Failed to load resource/.test(m.text())) errors.push(m.text());
  });
  await page.goto(`${server.url}/`);
  await page.waitForSelector('body[data-ready="true"]', { timeout: 60000 });
  await settle(page);
  return {
    page,
    errors,
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Waits until no request of the page is running (the view is reloaded inside the request).
export async function settle(page) {
  await page.waitForFunction(() => !document.body.dataset.busy, null, { timeout: 120000 });
}

export function control(page, label, tab) {
  const scope = tab ? `[data-tab-panel="${tab}"] ` : '';
  return page.locator(`${scope}[data-control-label="${label}"]`);
}

export async function showTab(page, tab) {
  await page.click(`.tabs button[data-tab="${tab}"]`);
}

// Types a value into a control's number box as a person would, then waits for the answer.
export async function typeValue(page, label, tab, value) {
  if (tab) await showTab(page, tab);
  const input = control(page, label, tab).locator('input.value-input');
  await input.fill(String(value));
  await input.press('Enter');
  await settle(page);
}

export async function choose(page, label, choice, tab) {
  if (tab) await showTab(page, tab);
  await control(page, label, tab).locator('select').selectOption({ label: choice });
  await settle(page);
}

export async function text(page, selector) {
  return (await page.textContent(selector)).trim();
}

export async function count(page, id) {
  return Number(await text(page, `#${id}`));
}

export function ensureOutDir() {
  if (!existsSync(outDir)) mkdirSync(outDir, { recursive: true });
  return outDir;
}

// Share of the view's pixels that belong to a tree: bright (skeleton lines, lit bark) or in
// colour (bark, leaves). The background, the grid and the faint envelope are dark and near grey.
export async function drawnShare(page) {
  return page.evaluate(() => {
    const source = document.querySelector('#view canvas');
    const w = 200;
    const h = Math.round((source.height / source.width) * w);
    const c = document.createElement('canvas');
    c.width = w;
    c.height = h;
    const g = c.getContext('2d');
    g.drawImage(source, 0, 0, w, h);
    const data = g.getImageData(0, 0, w, h).data;
    let drawn = 0;
    for (let i = 0; i < data.length; i += 4) {
      const hi = Math.max(data[i], data[i + 1], data[i + 2]);
      const lo = Math.min(data[i], data[i + 1], data[i + 2]);
      if (hi > 130 || hi - lo > 30) drawn += 1;
    }
    return drawn / (w * h);
  });
}

export function useServedPage(ready) {
  const ctx = {};
  before(async () => {
    ctx.server = await startServer();
    ctx.session = await openPage(ctx.server);
    ctx.page = ctx.session.page;
    if ((await count(ctx.page, 'build-count')) === 0) {
      await ctx.page.click('#build-button');
      await settle(ctx.page);
    }
    await ready(ctx);
  });
  after(async () => {
    if (ctx.session) await ctx.session.close();
    if (ctx.server) {
      const code = await ctx.server.stop();
      if (code !== 0) throw new Error(`ramulon serve ended with ${code}\n${ctx.server.log()}`);
    }
  });
}
