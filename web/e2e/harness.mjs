// Starts a PC program and a phone browser for the end-to-end tests.
//
// The PC is the stand-in e2e/servidor-falso.mjs unless VELORIN_BIN names the
// real executable; both are started the same way,
//   <program> --simular --terminal --dados <tmp> --porta <free port> --web <dist>
// and both print the pairing link "http://…/#parear=NNNNNN" on stdout and log
// "SIMULADO: …" lines to <tmp>/log.txt, which is how the tests see effects.
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, existsSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const aqui = dirname(fileURLToPath(import.meta.url));
export const DIST = join(aqui, '..', 'dist');
export const ARTEFATOS = join(aqui, 'artefatos');
export const REAL = !!process.env.VELORIN_BIN;

// Ports the system hands out to outgoing connections (Linux's ephemeral range).
function faixaEfemera() {
  try {
    const [baixo, alto] = readFileSync('/proc/sys/net/ipv4/ip_local_port_range', 'utf8').trim().split(/\s+/).map(Number);
    if (baixo > 0 && alto >= baixo) return [baixo, alto];
  } catch {
    // not Linux: use the usual range
  }
  return [32768, 60999];
}

function tentarEscutar(porta) {
  return new Promise((res) => {
    const s = createServer();
    s.unref();
    s.once('error', () => res(false));
    s.listen(porta, '127.0.0.1', () => s.close(() => res(true)));
  });
}

// A free port below the ephemeral range. A port the system picked with
// listen(0) comes from that range, so between our check and the program's
// bind any outgoing connection (the browser's, a fetch) may take it as its
// local port, and the program then finds it in use for as long as that
// connection lives.
async function portaLivre() {
  const [baixo] = faixaEfemera();
  const inicio = Math.max(1024, baixo - 12000);
  for (let i = 0; i < 200; i++) {
    const p = inicio + Math.floor(Math.random() * (baixo - inicio));
    if (await tentarEscutar(p)) return p;
  }
  throw new Error('no free port below the ephemeral range');
}

// Every program a test started, killed when the test process ends however it
// ends, so a failed start can never keep the runner waiting on a child.
const filhos = new Set();
process.on('exit', () => {
  for (const f of filhos) if (f.exitCode === null && f.signalCode === null) f.kill('SIGKILL');
});

function iniciarFilho(bin, args, opcoes) {
  const f = spawn(bin, args, opcoes);
  filhos.add(f);
  f.once('exit', () => filhos.delete(f));
  return f;
}

function comando() {
  if (REAL) return [process.env.VELORIN_BIN, []];
  return [process.execPath, [join(aqui, 'servidor-falso.mjs')]];
}

export class Pc {
  static async iniciar() {
    const pc = new Pc();
    pc.dados = mkdtempSync(join(tmpdir(), 'velorin-e2e-'));
    // The PC's display name, so the tests know what the panel must show.
    writeFileSync(join(pc.dados, 'config.ini'), '[Geral]\r\nNomeExibicao=PC-TESTE\r\n');
    // Another test's server may take the port between our check and the
    // program's bind; then start again on another port.
    for (let tentativa = 1; ; tentativa++) {
      try {
        await pc.comecar();
        return pc;
      } catch (e) {
        await pc.encerrarProcesso();
        if (tentativa >= 3 || !pc.portaOcupada()) {
          rmSync(pc.dados, { recursive: true, force: true });
          throw e;
        }
      }
    }
  }

  async comecar() {
    this.porta = await portaLivre();
    this.url = `http://127.0.0.1:${this.porta}`;
    const [bin, pre] = comando();
    this.args = [...pre, '--simular', '--terminal', '--dados', this.dados, '--porta', String(this.porta), '--web', DIST];
    this.proc = iniciarFilho(bin, this.args, { stdio: ['ignore', 'pipe', 'pipe'] });
    this.saida = '';
    this.proc.stdout.on('data', (b) => (this.saida += b.toString()));
    this.proc.stderr.on('data', (b) => (this.saida += b.toString()));
    await this.codigo(0, 15000);
    // The real program prints the code once it listens; the stand-in may print it a moment
    // before, so wait for an answer either way.
    await this.esperarEscuta();
  }

  // The program said its port was taken.
  portaOcupada() {
    return /indisponivel/.test(this.saida ?? '');
  }

  // The program ended, or will never listen: no point waiting for it.
  desistiu() {
    return this.proc.exitCode !== null || this.portaOcupada();
  }

  // The newest pairing code printed, waiting for one when `depois` codes were
  // already seen.
  async codigo(depois = 0, ms = 10000) {
    const fim = Date.now() + ms;
    for (;;) {
      const todos = [...this.saida.matchAll(/#parear=(\d{6})/g)].map((m) => m[1]);
      if (todos.length > depois) return todos[todos.length - 1];
      if (Date.now() > fim || this.desistiu()) throw new Error('no pairing code from the PC program:\n' + this.saida);
      await new Promise((r) => setTimeout(r, 50));
    }
  }

  async esperarEscuta(ms = 15000) {
    const fim = Date.now() + ms;
    for (;;) {
      try {
        const r = await fetch(this.url + '/api/ping');
        if (r.ok) return;
      } catch {
        // not listening yet
      }
      if (Date.now() > fim || this.desistiu()) throw new Error('the PC program is not listening:\n' + this.saida);
      await new Promise((r) => setTimeout(r, 50));
    }
  }

  codigosVistos() {
    return [...this.saida.matchAll(/#parear=(\d{6})/g)].length;
  }

  // What the PC user does with "Parear celular": a second copy of the
  // program with the same data folder asks the running one to show pairing.
  async abrirPareamento() {
    const antes = this.codigosVistos();
    const [bin, pre] = comando();
    await new Promise((res, rej) => {
      const p = iniciarFilho(bin, [...pre, '--terminal', '--dados', this.dados], { stdio: 'ignore' });
      p.on('exit', res);
      p.on('error', rej);
    });
    return this.codigo(antes);
  }

  log() {
    const f = join(this.dados, 'log.txt');
    return existsSync(f) ? readFileSync(f, 'utf8') : '';
  }

  linhas(prefixo) {
    return this.log().split(/\r?\n/).map((l) => l.slice(25)).filter((l) => l.startsWith(prefixo));
  }

  async esperarLinha(prefixo, n = 1, ms = 5000) {
    const fim = Date.now() + ms;
    for (;;) {
      const l = this.linhas(prefixo);
      if (l.length >= n) return l;
      if (Date.now() > fim) throw new Error(`log has ${l.length} of ${n} lines "${prefixo}":\n${this.log()}`);
      await new Promise((r) => setTimeout(r, 50));
    }
  }

  // States the real program reaches only from its tray menu; the stand-in
  // takes them on a test route. Tests that need them skip with the real one.
  async definir(estado) {
    if (REAL) throw new Error('not available with the real program');
    const r = await fetch(this.url + '/__falso/estado', { method: 'POST', body: JSON.stringify(estado) });
    return r.json();
  }

  async encerrarProcesso() {
    const proc = this.proc;
    if (proc && proc.exitCode === null && proc.signalCode === null) {
      const fim = new Promise((r) => proc.once('exit', r));
      proc.kill('SIGTERM');
      const t = setTimeout(() => proc.kill('SIGKILL'), 3000);
      await fim;
      clearTimeout(t);
    }
  }

  async parar() {
    await this.encerrarProcesso();
    rmSync(this.dados, { recursive: true, force: true });
  }
}

export const ARGS_CHROMIUM = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

// One headless Chromium with its own profile folder, and phone-shaped pages.
export class Navegador {
  static async iniciar() {
    const n = new Navegador();
    n.perfil = mkdtempSync(join(tmpdir(), 'velorin-chromium-'));
    n.contexto = await chromium.launchPersistentContext(n.perfil, {
      executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
      args: ARGS_CHROMIUM,
      viewport: { width: 360, height: 640 },
      deviceScaleFactor: 2,
      isMobile: true,
      hasTouch: true,
      locale: 'pt-BR',
      serviceWorkers: 'allow',
    });
    return n;
  }

  async pagina() {
    const p = await this.contexto.newPage();
    p.erros = [];
    p.on('pageerror', (e) => p.erros.push(String(e)));
    p.on('console', (m) => {
      if (m.type() === 'error') p.erros.push(m.text());
    });
    return p;
  }

  async fechar() {
    await this.contexto?.close().catch(() => undefined);
    rmSync(this.perfil, { recursive: true, force: true });
  }
}

// Touch gestures through the DevTools protocol, so the page gets real
// touchstart/touchmove/touchend events with the right finger counts.
export class Dedos {
  static async de(pagina) {
    const d = new Dedos();
    d.cdp = await pagina.context().newCDPSession(pagina);
    return d;
  }
  evento(type, pontos) {
    return this.cdp.send('Input.dispatchTouchEvent', {
      type,
      touchPoints: pontos.map(([x, y], id) => ({ x, y, id, radiusX: 5, radiusY: 5, force: 1 })),
    });
  }
  async tocar(x, y) {
    await this.evento('touchStart', [[x, y]]);
    await this.evento('touchEnd', []);
  }
  async tocarDois(x, y) {
    await this.evento('touchStart', [[x, y], [x + 40, y]]);
    await this.evento('touchEnd', []);
  }
  async arrastar(x, y, dx, dy, passos) {
    await this.evento('touchStart', [[x, y]]);
    for (let i = 1; i <= passos; i++) await this.evento('touchMove', [[x + (dx * i) / passos, y + (dy * i) / passos]]);
    await this.evento('touchEnd', []);
  }
  async deslizarDois(x, y, dy, passos) {
    await this.evento('touchStart', [[x, y], [x + 40, y]]);
    for (let i = 1; i <= passos; i++) {
      const yy = y + (dy * i) / passos;
      await this.evento('touchMove', [[x, yy], [x + 40, yy]]);
    }
    await this.evento('touchEnd', []);
  }
}
