// Touchpad gestures from raw touch points, free of the DOM so they can be
// tested with made-up timelines. One finger moves the pointer; a short touch
// without travel is a tap (click); two taps close together are a double click;
// a short two-finger touch is a right click; two fingers sliding vertically
// turn the wheel.

export interface Ponto {
  id: number;
  x: number;
  y: number;
}

export interface Saidas {
  mover(dx: number, dy: number): void;
  rolar(passos: number): void;
  clicar(tipo: 'clique' | 'direito' | 'duplo'): void;
}

export interface Relogio {
  esperar(ms: number, cb: () => void): unknown;
  cancelar(h: unknown): void;
}

// Travel (CSS px) below which a touch still counts as a tap.
export const TOQUE_FOLGA_PX = 10;
// Longest touch that still counts as a tap.
export const TOQUE_MAX_MS = 300;
// A second tap starting within this time of the first makes a double click;
// the first click waits that long before it is sent.
export const DUPLO_JANELA_MS = 250;
// Vertical two-finger travel for one wheel step.
export const PASSO_ROLAR_PX = 24;

type Modo = 'nada' | 'um' | 'dois';

export class Gestos {
  private modo: Modo = 'nada';
  private pontos = new Map<number, Ponto>();
  private inicio = 0;
  private viajou = 0;
  private maxDedos = 0;
  private rolou = false;
  private yMedioAnterior = 0;
  private restoRolar = 0;
  private toquePendente: unknown = null;
  // A tap is waiting to learn whether the touch now down makes it a double.
  private segurado = false;
  sensibilidade = 1.5;

  constructor(
    private readonly s: Saidas,
    private readonly relogio: Relogio = {
      esperar: (ms, cb) => setTimeout(cb, ms),
      cancelar: (h) => clearTimeout(h as ReturnType<typeof setTimeout>),
    },
  ) {}

  comecar(tempo: number, tocados: Ponto[]): void {
    for (const p of tocados) this.pontos.set(p.id, { ...p });
    if (this.modo === 'nada') {
      if (this.toquePendente !== null) {
        this.relogio.cancelar(this.toquePendente);
        this.toquePendente = null;
        this.segurado = true;
      }
      this.modo = 'um';
      this.inicio = tempo;
      this.viajou = 0;
      this.maxDedos = 0;
      this.rolou = false;
    }
    this.maxDedos = Math.max(this.maxDedos, this.pontos.size);
    if (this.pontos.size >= 2) {
      this.soltarSegurado();
      this.modo = 'dois';
      this.yMedioAnterior = this.yMedio();
      this.restoRolar = 0;
    }
  }

  mover(_tempo: number, movidos: Ponto[]): void {
    if (this.modo === 'um' && this.pontos.size === 1) {
      const p = movidos.find((m) => this.pontos.has(m.id));
      if (!p) return;
      const a = this.pontos.get(p.id)!;
      const dx = p.x - a.x;
      const dy = p.y - a.y;
      this.pontos.set(p.id, { ...p });
      this.viajou += Math.hypot(dx, dy);
      if (this.viajou >= TOQUE_FOLGA_PX) this.soltarSegurado();
      if (dx !== 0 || dy !== 0) this.s.mover(dx * this.sensibilidade, dy * this.sensibilidade);
      return;
    }
    for (const m of movidos) if (this.pontos.has(m.id)) this.pontos.set(m.id, { ...m });
    if (this.modo === 'dois' && this.pontos.size >= 2) {
      const y = this.yMedio();
      this.restoRolar += y - this.yMedioAnterior;
      this.viajou += Math.abs(y - this.yMedioAnterior);
      this.yMedioAnterior = y;
      const passos = Math.trunc(this.restoRolar / PASSO_ROLAR_PX);
      if (passos !== 0) {
        this.restoRolar -= passos * PASSO_ROLAR_PX;
        this.rolou = true;
        // Content follows the fingers, as on the phone itself: sliding up
        // scrolls the page down (a negative wheel turn).
        this.s.rolar(passos);
      }
    }
  }

  terminar(tempo: number, soltos: Ponto[]): void {
    // A lifted finger reports where it left the glass; the browser may not
    // have sent a move for that last stretch.
    this.mover(tempo, soltos);
    for (const p of soltos) this.pontos.delete(p.id);
    if (this.modo === 'dois' && this.pontos.size === 1) {
      // One finger of a two-finger gesture lifted: wait for the other one, and
      // keep the vertical reference on the finger that stays.
      this.yMedioAnterior = this.yMedio();
      return;
    }
    if (this.pontos.size > 0) return;
    const curto = tempo - this.inicio <= TOQUE_MAX_MS && this.viajou < TOQUE_FOLGA_PX;
    const modo = this.modo;
    this.modo = 'nada';
    if (!curto) {
      this.soltarSegurado();
      return;
    }
    if (modo === 'dois') {
      if (!this.rolou && this.maxDedos === 2) this.s.clicar('direito');
      return;
    }
    if (this.segurado) {
      this.segurado = false;
      this.s.clicar('duplo');
      return;
    }
    this.toquePendente = this.relogio.esperar(DUPLO_JANELA_MS, () => {
      this.toquePendente = null;
      this.s.clicar('clique');
    });
  }

  // The browser took the touch away (a system gesture, a call): forget it.
  cancelar(): void {
    this.soltarSegurado();
    this.pontos.clear();
    this.modo = 'nada';
  }

  // The earlier tap turned out to stand alone: send it now, before whatever
  // this touch does.
  private soltarSegurado(): void {
    if (!this.segurado) return;
    this.segurado = false;
    this.s.clicar('clique');
  }

  private yMedio(): number {
    let soma = 0;
    for (const p of this.pontos.values()) soma += p.y;
    return this.pontos.size ? soma / this.pontos.size : 0;
  }
}
