// Bundles the page into dist/: one script with three.js inside, the page and its style sheet.
import { build } from 'esbuild';
import { copyFileSync, mkdirSync, rmSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const dist = join(here, 'dist');

rmSync(dist, { recursive: true, force: true });
mkdirSync(dist, { recursive: true });
await build({
  entryPoints: [join(here, 'src/main.js')],
  outfile: join(dist, 'main.js'),
  bundle: true,
  format: 'esm',
  target: 'es2022',
  minify: true,
  sourcemap: true,
  legalComments: 'linked',
  logLevel: 'warning',
});
for (const file of ['index.html', 'style.css'])
  copyFileSync(join(here, file), join(dist, file));
console.log(`web: bundled into ${dist}`);
