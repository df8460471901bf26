import { test } from 'node:test';
import assert from 'node:assert/strict';
import type { AcaoMouse } from '../src/api.ts';
import { CanalMouse, UltimoValor } from '../src/envio.ts';

// A hand-driven "network": each request waits until the test answers it, and
// frames run only when the test says so.
function montar() {
  const enviados: AcaoMouse[] = [];
  const pendentes: (() => void)[] = [];
  let emVoo = 0;
  let maxEmVoo = 0;
  const quadros: (() => void)[] = [];
  const canal = new CanalMouse(
    (m) => {
      enviados.push(m);
      emVoo++;
      maxEmVoo = Math.max(maxEmVoo, emVoo);
      return new Promise<void>((res) => pendentes.push(() => { emVoo--; res(); }));
    },
    (cb) => quadros.push(cb),
  );
  const quadro = () => quadros.splice(0).forEach((cb) => cb());
  const responder = async () => {
    pendentes.shift()?.();
    await new Promise((r) => setImmediate(r));
  };
  return { canal, enviados, quadro, responder, maxEmVoo: () => maxEmVoo, quadros };
}

test('moves within one frame become one request', () => {
  const m = montar();
  for (let i = 0; i < 10; i++) m.canal.mover(3, -2);
  assert.equal(m.enviados.length, 0);
  m.quadro();
  assert.deepEqual(m.enviados, [{ acao: 'mover', x: 30, y: -20 }]);
});

test('a slow network coarsens the moves instead of queueing them, and drops nothing', async () => {
  const m = montar();
  let somaX = 0;
  let somaY = 0;
  for (let rodada = 0; rodada < 20; rodada++) {
    // 30 frames' worth of finger motion arrive while one request is out.
    for (let i = 0; i < 30; i++) {
      m.canal.mover(1.5, -0.5);
      somaX += 1.5;
      somaY -= 0.5;
      m.quadro();
    }
    await m.responder();
  }
  m.quadro();
  await m.responder();
  assert.equal(m.maxEmVoo(), 1);
  assert.ok(m.enviados.length <= 21, `${m.enviados.length} requests for 600 frames`);
  const x = m.enviados.reduce((s, e) => s + (e.acao === 'mover' ? e.x : 0), 0);
  const y = m.enviados.reduce((s, e) => s + (e.acao === 'mover' ? e.y : 0), 0);
  assert.equal(x, Math.trunc(somaX));
  assert.equal(y, Math.trunc(somaY));
});

test('fractions of a pixel accumulate instead of being lost', () => {
  const m = montar();
  m.canal.mover(0.4, 0.4);
  m.quadro();
  assert.equal(m.enviados.length, 0, 'nothing to send below one pixel');
  m.canal.mover(0.4, -0.9);
  m.quadro();
  assert.deepEqual(m.enviados, []);
  m.canal.mover(0.4, 0);
  m.quadro();
  assert.deepEqual(m.enviados, [{ acao: 'mover', x: 1, y: 0 }]);
});

test('a big move is split within the PC’s ±2000 limit', async () => {
  const m = montar();
  m.canal.mover(4500, -2500);
  for (let i = 0; i < 4; i++) {
    m.quadro();
    await m.responder();
  }
  assert.deepEqual(m.enviados, [
    { acao: 'mover', x: 2000, y: -2000 },
    { acao: 'mover', x: 2000, y: -500 },
    { acao: 'mover', x: 500, y: 0 },
  ]);
});

test('clicks keep their place after the motion that came before them', async () => {
  const m = montar();
  m.canal.mover(5, 5);
  m.quadro(); // first move goes out and stays in flight
  m.canal.mover(7, 0);
  m.canal.clicar('clique');
  m.canal.mover(0, 9);
  m.canal.rolar(3);
  m.canal.rolar(-1);
  m.canal.clicar('duplo');
  for (let i = 0; i < 8; i++) {
    await m.responder();
    m.quadro();
  }
  assert.deepEqual(m.enviados, [
    { acao: 'mover', x: 5, y: 5 },
    { acao: 'mover', x: 7, y: 0 },
    { acao: 'clique' },
    { acao: 'mover', x: 0, y: 9 },
    { acao: 'rolar', passos: 2 },
    { acao: 'duplo' },
  ]);
  assert.equal(m.maxEmVoo(), 1);
});

test('scroll steps are summed and kept within ±10 per request', async () => {
  const m = montar();
  for (let i = 0; i < 25; i++) m.canal.rolar(-1);
  m.canal.rolar(0);
  for (let i = 0; i < 4; i++) {
    m.quadro();
    await m.responder();
  }
  assert.deepEqual(m.enviados.map((e) => (e.acao === 'rolar' ? e.passos : 0)), [-10, -10, -5]);
});

test('a failed request does not stall the channel', async () => {
  const quadros: (() => void)[] = [];
  const enviados: AcaoMouse[] = [];
  const canal = new CanalMouse(async (m) => {
    enviados.push(m);
    throw new Error('network');
  }, (cb) => quadros.push(cb));
  canal.clicar('clique');
  quadros.splice(0).forEach((cb) => cb());
  await new Promise((r) => setImmediate(r));
  canal.clicar('direito');
  quadros.splice(0).forEach((cb) => cb());
  assert.deepEqual(enviados, [{ acao: 'clique' }, { acao: 'direito' }]);
});

test('volume: one request in flight and the last value wins', async () => {
  const enviados: number[] = [];
  const respostas: [number, boolean][] = [];
  const pendentes: (() => void)[] = [];
  const u = new UltimoValor<number, number>(
    (v) => {
      enviados.push(v);
      return new Promise((res) => pendentes.push(() => res(v)));
    },
    (r, _v, final) => respostas.push([r, final]),
  );
  const tick = () => new Promise((r) => setImmediate(r));
  for (let v = 10; v <= 60; v += 10) u.definir(v);
  await tick();
  assert.deepEqual(enviados, [10]);
  pendentes.shift()!();
  await tick();
  assert.deepEqual(enviados, [10, 60], 'intermediate values are skipped');
  u.definir(70);
  u.definir(65);
  pendentes.shift()!();
  await tick();
  pendentes.shift()!();
  await tick();
  assert.deepEqual(enviados, [10, 60, 65]);
  // Only the answer with nothing newer behind it may settle the slider.
  assert.deepEqual(respostas, [[10, false], [60, false], [65, true]]);
  assert.equal(u.ocupado, false);
});
