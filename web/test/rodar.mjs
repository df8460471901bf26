// Runs the panel's unit tests with node's test runner. Node 20 cannot load
// TypeScript, so each *.test.ts is bundled with the modules it imports into
// .teste/ first (the same esbuild that builds the panel).
import { spawnSync } from 'node:child_process';
import { readdirSync, rmSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import * as esbuild from 'esbuild';

const aqui = dirname(fileURLToPath(import.meta.url));
const saida = join(aqui, '..', '.teste');
const filtro = process.argv[2];
const testes = readdirSync(aqui).filter((f) => f.endsWith('.test.ts') && (!filtro || f.includes(filtro)));
rmSync(saida, { recursive: true, force: true });
await esbuild.build({
  entryPoints: testes.map((f) => join(aqui, f)),
  bundle: true,
  platform: 'node',
  format: 'esm',
  target: 'node20',
  outdir: saida,
  outExtension: { '.js': '.mjs' },
  packages: 'external',
  logLevel: 'warning',
});
const r = spawnSync(process.execPath, ['--test', ...testes.map((f) => join(saida, f.replace(/\.ts$/, '.mjs')))], { stdio: 'inherit' });
rmSync(saida, { recursive: true, force: true });
process.exit(r.status ?? 1);
