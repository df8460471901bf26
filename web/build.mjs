// Builds the panel into dist/: exactly the files the PC serves (and embeds).
//   node build.mjs            build
//   node build.mjs --relatorio  also print sizes as JSON on the last line
import { createHash } from 'node:crypto';
import { cpSync, mkdirSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { gzipSync } from 'node:zlib';
import * as esbuild from 'esbuild';
import { Resvg } from '@resvg/resvg-js';

const aqui = dirname(fileURLToPath(import.meta.url));
const src = join(aqui, 'src');
const dist = join(aqui, 'dist');
const modulos = join(aqui, 'node_modules');

// The served files, by the name the PC looks for in its folder or resources.
export const ARQUIVOS = [
  'index.html', 'app.js', 'app.css', 'fontes-OFL.txt', 'manrope.woff2', 'ibm-plex-mono.woff2',
  'sw.js', 'manifest.webmanifest', 'icone-32.png', 'icone-180.png', 'icone-192.png', 'icone-512.png',
];
// app.js + app.css together, gzip-compressed.
const ORCAMENTO_GZIP = 60 * 1024;

const FONTES = {
  'manrope.woff2': ['@fontsource-variable/manrope', 'files/manrope-latin-wght-normal.woff2', 'Manrope'],
  'ibm-plex-mono.woff2': ['@fontsource/ibm-plex-mono', 'files/ibm-plex-mono-latin-500-normal.woff2', 'IBM Plex Mono'],
};

function icone(svg, tamanho) {
  return new Resvg(svg, { fitTo: { mode: 'width', value: tamanho }, background: 'rgba(0,0,0,0)' }).render().asPng();
}

export async function construir() {
  rmSync(dist, { recursive: true, force: true });
  mkdirSync(dist, { recursive: true });

  await esbuild.build({
    entryPoints: [join(src, 'app.ts')],
    bundle: true,
    format: 'esm',
    target: 'es2020',
    minify: true,
    legalComments: 'none',
    outfile: join(dist, 'app.js'),
    logLevel: 'warning',
  });
  // The stylesheet refers to the fonts by their served paths: transform only, no resolving.
  const css = await esbuild.transform(readFileSync(join(src, 'app.css'), 'utf8'), {
    loader: 'css', minify: true, target: ['chrome87', 'safari15', 'firefox90'],
  });
  writeFileSync(join(dist, 'app.css'), css.code);

  const html = readFileSync(join(src, 'index.html'), 'utf8').replace(/\n\s*/g, '\n');
  writeFileSync(join(dist, 'index.html'), html);

  let ofl = '';
  for (const [destino, [pacote, arquivo, nome]] of Object.entries(FONTES)) {
    cpSync(join(modulos, pacote, arquivo), join(dist, destino));
    const versao = JSON.parse(readFileSync(join(modulos, pacote, 'package.json'), 'utf8')).version;
    ofl += `${destino}: ${nome} (latin subset, from the npm package ${pacote} ${versao})\n\n`;
    ofl += readFileSync(join(modulos, pacote, 'LICENSE'), 'utf8').trim() + '\n\n' + '-'.repeat(72) + '\n\n';
  }
  writeFileSync(join(dist, 'fontes-OFL.txt'), ofl.trimEnd() + '\n');

  const svg = readFileSync(join(aqui, 'assets', 'icone.svg'), 'utf8');
  // iOS rounds the home-screen icon itself; it gets a full square so no
  // transparent corners show up as black.
  const quadrado = svg.replace(/rx="\d+"/, 'rx="0"');
  writeFileSync(join(dist, 'icone-32.png'), icone(svg, 32));
  writeFileSync(join(dist, 'icone-180.png'), icone(quadrado, 180));
  writeFileSync(join(dist, 'icone-192.png'), icone(svg, 192));
  writeFileSync(join(dist, 'icone-512.png'), icone(svg, 512));

  const manifesto = {
    name: 'Velorin',
    short_name: 'Velorin',
    description: 'Controle remoto do PC',
    lang: 'pt-BR',
    start_url: '/panel/#local',
    scope: '/',
    display: 'standalone',
    orientation: 'portrait',
    background_color: '#F5F7F8',
    theme_color: '#F5F7F8',
    icons: [
      { src: '/icone-192.png', sizes: '192x192', type: 'image/png', purpose: 'any' },
      { src: '/icone-512.png', sizes: '512x512', type: 'image/png', purpose: 'any' },
    ],
  };
  writeFileSync(join(dist, 'manifest.webmanifest'), JSON.stringify(manifesto, null, 2) + '\n');

  // The offline cache is named after everything it holds, so a new build
  // replaces the old copies instead of mixing with them.
  const resumo = createHash('sha256');
  for (const a of ARQUIVOS) if (a !== 'sw.js') resumo.update(a).update(readFileSync(join(dist, a)));
  await esbuild.build({
    entryPoints: [join(src, 'sw.ts')],
    bundle: true,
    format: 'iife',
    target: 'es2020',
    minify: true,
    define: { VERSAO_CACHE: JSON.stringify(resumo.digest('hex').slice(0, 16)) },
    outfile: join(dist, 'sw.js'),
    logLevel: 'warning',
  });

  const presentes = readdirSync(dist).sort();
  const esperados = [...ARQUIVOS].sort();
  if (JSON.stringify(presentes) !== JSON.stringify(esperados)) {
    throw new Error(`dist/ holds ${presentes.join(', ')}; expected exactly ${esperados.join(', ')}`);
  }

  const tamanhos = {};
  for (const a of ARQUIVOS) {
    const b = readFileSync(join(dist, a));
    tamanhos[a] = { bytes: b.length, gzip: gzipSync(b, { level: 9 }).length };
  }
  const gzipAppCss = tamanhos['app.js'].gzip + tamanhos['app.css'].gzip;
  return { tamanhos, gzipAppCss, total: Object.values(tamanhos).reduce((s, x) => s + x.bytes, 0) };
}

if (process.argv[1] && fileURLToPath(import.meta.url) === process.argv[1]) {
  const r = await construir();
  for (const [a, x] of Object.entries(r.tamanhos)) {
    console.log(`${a.padEnd(22)} ${String(x.bytes).padStart(8)} B  gzip ${String(x.gzip).padStart(7)} B`);
  }
  console.log(`total ${r.total} B; app.js + app.css gzip ${r.gzipAppCss} B (budget ${ORCAMENTO_GZIP} B)`);
  if (process.argv.includes('--relatorio')) console.log(JSON.stringify(r));
  if (r.gzipAppCss > ORCAMENTO_GZIP) {
    console.error('app.js + app.css exceed the gzip budget');
    process.exit(1);
  }
}
