// Offline background script. It keeps the panel's own static files so the
// installed app opens without the PC, and never touches the API: a status
// read with the PC out of reach must fail, not show an old answer.
/// <reference lib="webworker" />

declare const self: ServiceWorkerGlobalScope;
// Filled in by the build with a digest of the files, so each build gets its own cache.
declare const VERSAO_CACHE: string;

const CACHE = 'velorin-painel-' + VERSAO_CACHE;
const INICIO = '/panel/';
const ESTATICOS = [
  INICIO,
  '/app.js',
  '/app.css',
  '/fontes-OFL.txt',
  '/manrope.woff2',
  '/ibm-plex-mono.woff2',
  '/manifest.webmanifest',
  '/icone-32.png',
  '/icone-180.png',
  '/icone-192.png',
  '/icone-512.png',
];
// Every address of the start page serves the same file; keep one copy.
const ALIASES = new Set(['/', '/index.html', '/panel', '/panel/', '/panel/index.html', '/painel', '/painel/', '/painel/index.html']);

// One file at a time, each tried twice: the PC answers a few connections per
// phone at once and turns away the rest, and eleven parallel fetches (on top
// of the page's own) could make the install fail, leaving no offline copy.
async function guardarEstaticos(): Promise<void> {
  const c = await caches.open(CACHE);
  for (const u of ESTATICOS) {
    for (let tentativa = 1; ; tentativa++) {
      try {
        await c.add(new Request(u, { cache: 'no-cache' }));
        break;
      } catch (e) {
        if (tentativa >= 2) throw e;
        await new Promise((r) => setTimeout(r, 500));
      }
    }
  }
}

self.addEventListener('install', (ev) => {
  ev.waitUntil(guardarEstaticos().then(() => self.skipWaiting()));
});

self.addEventListener('activate', (ev) => {
  ev.waitUntil(
    caches.keys()
      .then((ks) => Promise.all(ks.filter((k) => k.startsWith('velorin-painel-') && k !== CACHE).map((k) => caches.delete(k))))
      .then(() => self.clients.claim()),
  );
});

self.addEventListener('fetch', (ev) => {
  const req = ev.request;
  if (req.method !== 'GET') return;
  const url = new URL(req.url);
  if (url.origin !== self.location.origin) return;
  // The API always goes to the network, untouched.
  if (url.pathname.startsWith('/api/')) return;
  const chave = ALIASES.has(url.pathname) ? INICIO : url.pathname;
  if (chave !== INICIO && !ESTATICOS.includes(chave)) return;
  // Network first, so a PC that was updated serves its new panel at once; the
  // copy is only for when the PC cannot be reached.
  ev.respondWith(
    fetch(req, { cache: 'no-cache' })
      .then((resp) => {
        if (resp.ok) {
          const copia = resp.clone();
          void caches.open(CACHE).then((c) => c.put(chave, copia));
        }
        return resp;
      })
      .catch(() => caches.open(CACHE).then((c) => c.match(chave)).then((r) => r ?? Response.error())),
  );
});
