// Senders for controls that fire far faster than a phone's Wi-Fi can carry
// requests (a finger on the touchpad, a volume slider). Both keep at most one
// request in flight and never build a queue: what arrives meanwhile is merged
// into the next request, so a slow network makes the updates coarser, not late.

import { MOUSE_MAX, ROLAR_MAX, type AcaoMouse } from './api.ts';

export type Agendar = (cb: () => void) => void;

const agendarQuadro: Agendar = (cb) => {
  if (typeof requestAnimationFrame === 'function') requestAnimationFrame(() => cb());
  else setTimeout(cb, 16);
};

function limitar(v: number, max: number): number {
  // "+ 0" turns -0 (from truncating -0.4) into 0.
  return Math.max(-max, Math.min(max, v)) + 0;
}

// The mouse channel: relative moves are summed per animation frame, scroll
// steps are summed too, and clicks keep their place in the order the user made
// them (the pointer must reach the spot before the click lands there).
export class CanalMouse {
  private dx = 0;
  private dy = 0;
  private passos = 0;
  private readonly fila: AcaoMouse[] = [];
  private emVoo = false;
  private agendado = false;

  constructor(
    private readonly enviar: (m: AcaoMouse) => Promise<unknown>,
    private readonly agendar: Agendar = agendarQuadro,
  ) {}

  mover(dx: number, dy: number): void {
    if (!Number.isFinite(dx) || !Number.isFinite(dy)) return;
    this.dx += dx;
    this.dy += dy;
    this.talvezAgendar();
  }

  rolar(passos: number): void {
    if (!Number.isInteger(passos) || passos === 0) return;
    this.passos += passos;
    this.talvezAgendar();
  }

  clicar(acao: 'clique' | 'direito' | 'duplo'): void {
    this.materializar(this.fila);
    this.fila.push({ acao });
    this.talvezAgendar();
  }

  // Requests waiting or in flight; for the interface and the tests.
  get ocupado(): boolean {
    return this.emVoo || this.fila.length > 0 || this.proximo(true) !== null;
  }

  // Moves the accumulated motion and scrolling into `destino` as whole
  // requests, each within the PC's limits; fractions stay for later.
  private materializar(destino: AcaoMouse[]): void {
    for (;;) {
      const x = limitar(Math.trunc(this.dx), MOUSE_MAX);
      const y = limitar(Math.trunc(this.dy), MOUSE_MAX);
      if (x === 0 && y === 0) break;
      this.dx -= x;
      this.dy -= y;
      destino.push({ acao: 'mover', x, y });
    }
    while (this.passos !== 0) {
      const p = limitar(this.passos, ROLAR_MAX);
      this.passos -= p;
      destino.push({ acao: 'rolar', passos: p });
    }
  }

  private proximo(soOlhar: boolean): AcaoMouse | null {
    if (this.fila.length > 0) return soOlhar ? this.fila[0] : this.fila.shift()!;
    const x = limitar(Math.trunc(this.dx), MOUSE_MAX);
    const y = limitar(Math.trunc(this.dy), MOUSE_MAX);
    if (x !== 0 || y !== 0) {
      if (!soOlhar) {
        this.dx -= x;
        this.dy -= y;
      }
      return { acao: 'mover', x, y };
    }
    if (this.passos !== 0) {
      const p = limitar(this.passos, ROLAR_MAX);
      if (!soOlhar) this.passos -= p;
      return { acao: 'rolar', passos: p };
    }
    return null;
  }

  private talvezAgendar(): void {
    if (this.emVoo || this.agendado) return;
    if (this.proximo(true) === null) return;
    this.agendado = true;
    this.agendar(() => {
      this.agendado = false;
      this.descarregar();
    });
  }

  private descarregar(): void {
    if (this.emVoo) return;
    const m = this.proximo(false);
    if (!m) return;
    this.emVoo = true;
    let fim: Promise<unknown>;
    try {
      fim = Promise.resolve(this.enviar(m));
    } catch {
      fim = Promise.resolve();
    }
    fim.catch(() => undefined).then(() => {
      this.emVoo = false;
      this.talvezAgendar();
    });
  }
}

// Latest value wins: while one request is in flight, newer values replace each
// other and only the last one is sent when it returns. `aoResponder` sees every
// answer with `final` true only when nothing newer is waiting, so the
// interface can settle on the PC's value without jumping back mid-slide.
export class UltimoValor<T, R> {
  private pendente: { v: T } | null = null;
  private emVoo = false;

  constructor(
    private readonly enviar: (v: T) => Promise<R>,
    private readonly aoResponder: (r: R, v: T, final: boolean) => void = () => undefined,
  ) {}

  definir(v: T): void {
    this.pendente = { v };
    if (!this.emVoo) this.proximo();
  }

  get ocupado(): boolean {
    return this.emVoo;
  }

  private proximo(): void {
    const p = this.pendente;
    if (!p) return;
    this.pendente = null;
    this.emVoo = true;
    Promise.resolve()
      .then(() => this.enviar(p.v))
      .then(
        (r) => {
          this.emVoo = false;
          this.aoResponder(r, p.v, this.pendente === null);
        },
        () => {
          this.emVoo = false;
        },
      )
      .then(() => this.proximo());
  }
}
