import { test } from 'node:test';
import assert from 'node:assert/strict';
import { ClienteApi } from '../src/api.ts';

interface Pedido { url: string; init: RequestInit }

function cliente(resposta: () => Response | Promise<Response>, base = '') {
  const pedidos: Pedido[] = [];
  const api = new ClienteApi({
    base,
    token: () => 'T'.repeat(43),
    buscar: (async (url: string, init: RequestInit) => {
      pedidos.push({ url, init });
      return resposta();
    }) as typeof fetch,
  });
  return { api, pedidos };
}

const cab = (p: Pedido) => p.init.headers as Record<string, string>;

test('POST and PUT always carry a JSON body, an empty object when there is nothing to say', async () => {
  const { api, pedidos } = cliente(() => new Response(JSON.stringify({ cancelado: false }), { status: 200 }));
  await api.cancelarEnergia();
  await api.volume({ nivel: 40 });
  assert.equal(pedidos[0].init.method, 'POST');
  assert.equal(pedidos[0].init.body, '{}');
  assert.equal(cab(pedidos[0])['Content-Type'], 'application/json');
  assert.equal(pedidos[1].init.method, 'PUT');
  assert.equal(pedidos[1].init.body, '{"nivel":40}');
});

test('authenticated routes send the bearer token; pairing and redeeming do not', async () => {
  const { api, pedidos } = cliente(() => new Response('{}', { status: 200 }));
  await api.status();
  await api.parear({ codigo: '123456', nomeDispositivo: 'x' });
  await api.consumirTransferencia('A'.repeat(43));
  assert.equal(cab(pedidos[0]).Authorization, 'Bearer ' + 'T'.repeat(43));
  assert.equal(cab(pedidos[1]).Authorization, undefined);
  assert.equal(cab(pedidos[2]).Authorization, undefined);
  assert.equal(pedidos[0].init.method, 'GET');
  assert.equal(pedidos[0].init.body, undefined);
  for (const p of pedidos) assert.equal(p.init.cache, 'no-store');
});

test('bodies leave out what the PC treats as absent', async () => {
  const { api, pedidos } = cliente(() => new Response('{}', { status: 200 }));
  await api.parear({ codigo: '123456', nomeDispositivo: 'Ana', chaveDispositivo: '', tokenAnterior: '', substituirMesmoNome: false });
  await api.parear({ codigo: '123456', nomeDispositivo: 'Ana', chaveDispositivo: 'K'.repeat(43), tokenAnterior: 'P'.repeat(43), substituirMesmoNome: true });
  await api.energia('bloquear', 600, true);
  await api.energia('desligar', 300, false);
  await api.criarTransferencia();
  await api.consumirTransferencia('A'.repeat(43), 'B'.repeat(43));
  const corpos = pedidos.map((p) => JSON.parse(p.init.body as string));
  assert.deepEqual(corpos[0], { codigo: '123456', nomeDispositivo: 'Ana' });
  assert.deepEqual(corpos[1], { codigo: '123456', nomeDispositivo: 'Ana', chaveDispositivo: 'K'.repeat(43), tokenAnterior: 'P'.repeat(43), substituirMesmoNome: true });
  assert.deepEqual(corpos[2], { acao: 'bloquear' });
  assert.deepEqual(corpos[3], { acao: 'desligar', atrasoSegundos: 300, forcar: false });
  assert.deepEqual(corpos[4], {});
  assert.deepEqual(corpos[5], { ticket: 'A'.repeat(43), tokenAtual: 'B'.repeat(43) });
});

test('answers: empty success, error object, network failure', async () => {
  const vazio = cliente(() => new Response(null, { status: 204 }));
  assert.deepEqual(await vazio.api.midia('proxima'), { ok: true, status: 204, dados: null });

  const erro = cliente(() => new Response(JSON.stringify({ erro: 'limite', mensagem: 'Muitas' }), { status: 429, headers: { 'Retry-After': '120' } }));
  assert.deepEqual(await erro.api.parear({ codigo: '1', nomeDispositivo: '' }), { ok: false, status: 429, erro: 'limite', mensagem: 'Muitas', repetirEm: 120 });

  const rede = cliente(() => { throw new TypeError('Failed to fetch'); });
  const r = await rede.api.status();
  assert.equal(r.ok, false);
  assert.equal(r.ok === false && r.status, 0);

  // A proxy's HTML error page is a failure, not a crash.
  const html = cliente(() => new Response('<html>bad gateway</html>', { status: 502 }));
  const h = await html.api.status();
  assert.equal(h.ok === false && h.erro, 'http_502');
});

test('a PC on another address is reached through the base URL', async () => {
  const { api, pedidos } = cliente(() => new Response('{}', { status: 200 }), 'http://10.0.0.5:8765');
  await api.ping();
  assert.equal(pedidos[0].url, 'http://10.0.0.5:8765/api/ping');
});
