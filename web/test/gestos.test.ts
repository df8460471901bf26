import { test } from 'node:test';
import assert from 'node:assert/strict';
import { DUPLO_JANELA_MS, Gestos, PASSO_ROLAR_PX, type Ponto } from '../src/gestos.ts';

// A fake clock: timers fire only when the test advances time.
function montar() {
  const saida: string[] = [];
  let movido = [0, 0];
  let agora = 0;
  let timers: { quando: number; cb: () => void; id: number }[] = [];
  let seq = 0;
  const g = new Gestos(
    {
      mover: (dx, dy) => { movido = [movido[0] + dx, movido[1] + dy]; },
      rolar: (p) => saida.push('rolar ' + p),
      clicar: (tipo) => saida.push(tipo),
    },
    {
      esperar: (ms, cb) => { timers.push({ quando: agora + ms, cb, id: ++seq }); return seq; },
      cancelar: (id) => { timers = timers.filter((t) => t.id !== id); },
    },
  );
  g.sensibilidade = 1;
  const avancar = (ms: number) => {
    agora += ms;
    for (const t of timers.filter((t) => t.quando <= agora)) t.cb();
    timers = timers.filter((t) => t.quando > agora);
  };
  const p = (id: number, x: number, y: number): Ponto => ({ id, x, y });
  const toque = (x = 100, y = 100) => {
    g.comecar(agora, [p(1, x, y)]);
    avancar(60);
    g.terminar(agora, [p(1, x, y)]);
  };
  return { g, saida, movido: () => movido, avancar, p, toque, agora: () => agora };
}

test('one tap is a click, sent once the double-tap window has passed', () => {
  const m = montar();
  m.toque();
  assert.deepEqual(m.saida, []);
  m.avancar(DUPLO_JANELA_MS);
  assert.deepEqual(m.saida, ['clique']);
});

test('two quick taps are one double click, not clicks', () => {
  const m = montar();
  m.toque();
  m.avancar(100);
  m.toque();
  m.avancar(1000);
  assert.deepEqual(m.saida, ['duplo']);
});

test('two taps far apart are two clicks', () => {
  const m = montar();
  m.toque();
  m.avancar(DUPLO_JANELA_MS + 50);
  m.toque();
  m.avancar(DUPLO_JANELA_MS + 50);
  assert.deepEqual(m.saida, ['clique', 'clique']);
});

test('a tap followed by a drag keeps its click, sent before the drag moves', () => {
  const m = montar();
  m.toque();
  m.avancar(100);
  m.g.comecar(m.agora(), [m.p(1, 100, 100)]);
  m.g.mover(m.agora(), [m.p(1, 120, 100)]);
  assert.deepEqual(m.saida, ['clique']);
  m.avancar(400);
  m.g.terminar(m.agora(), [m.p(1, 120, 100)]);
  m.avancar(1000);
  assert.deepEqual(m.saida, ['clique']);
});

test('moving one finger moves the pointer by the deltas times the sensitivity, with no click', () => {
  const m = montar();
  m.g.sensibilidade = 2;
  m.g.comecar(0, [m.p(1, 10, 10)]);
  m.g.mover(10, [m.p(1, 15, 8)]);
  m.g.mover(20, [m.p(1, 30, 0)]);
  m.g.terminar(40, [m.p(1, 30, 0)]);
  m.avancar(1000);
  assert.deepEqual(m.movido(), [40, -20]);
  assert.deepEqual(m.saida, []);
});

test('the last stretch before the fingers lift still counts', () => {
  const m = montar();
  m.g.comecar(0, [m.p(1, 10, 10)]);
  m.g.mover(10, [m.p(1, 20, 10)]);
  // No move event for the final position, only the lift.
  m.g.terminar(200, [m.p(1, 50, 30)]);
  assert.deepEqual(m.movido(), [40, 20]);
  m.g.comecar(1000, [m.p(1, 100, 300), m.p(2, 140, 300)]);
  m.g.terminar(1100, [m.p(1, 100, 300 - PASSO_ROLAR_PX * 2), m.p(2, 140, 300 - PASSO_ROLAR_PX * 2)]);
  assert.deepEqual(m.saida, ['rolar -2']);
});

test('a long press without travel is not a click', () => {
  const m = montar();
  m.g.comecar(0, [m.p(1, 10, 10)]);
  m.avancar(800);
  m.g.terminar(m.agora(), [m.p(1, 10, 10)]);
  m.avancar(1000);
  assert.deepEqual(m.saida, []);
});

test('a two-finger tap is a right click, whichever finger lifts first', () => {
  const m = montar();
  m.g.comecar(0, [m.p(1, 100, 100)]);
  m.g.comecar(20, [m.p(2, 140, 100)]);
  m.g.terminar(90, [m.p(2, 140, 100)]);
  m.g.terminar(100, [m.p(1, 100, 100)]);
  m.avancar(1000);
  assert.deepEqual(m.saida, ['direito']);
  assert.deepEqual(m.movido(), [0, 0]);
});

test('two fingers sliding vertically turn the wheel, content following the fingers', () => {
  const m = montar();
  m.g.comecar(0, [m.p(1, 100, 300), m.p(2, 140, 300)]);
  // Up by 5 steps and a half, in small moves.
  let y = 300;
  for (; y >= 300 - PASSO_ROLAR_PX * 5.5; y -= 4) m.g.mover(0, [m.p(1, 100, y), m.p(2, 140, y)]);
  m.g.terminar(500, [m.p(1, 100, y + 4), m.p(2, 140, y + 4)]);
  m.avancar(1000);
  const passos = m.saida.map((s) => Number(s.split(' ')[1])).reduce((a, b) => a + b, 0);
  assert.equal(passos, -5);
  assert.ok(!m.saida.includes('direito'), 'a scroll is not a right click');
  assert.deepEqual(m.movido(), [0, 0], 'two fingers never move the pointer');
});
