import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Armazem, chaveValida, nomePadrao, novaChave } from '../src/armazem.ts';

class Memoria {
  m = new Map<string, string>();
  getItem(k: string) { return this.m.get(k) ?? null; }
  setItem(k: string, v: string) { this.m.set(k, v); }
  removeItem(k: string) { this.m.delete(k); }
}

test('the identity key is 43 base64url characters and survives everything but storage loss', () => {
  for (let i = 0; i < 50; i++) assert.ok(chaveValida(novaChave()));
  // All-ones bytes would give "+" and "/" in plain base64.
  assert.equal(novaChave((b) => b.fill(0xff)), '_'.repeat(42) + '8');
  const mem = new Memoria();
  const a = new Armazem(mem);
  const chave = a.chave();
  assert.equal(new Armazem(mem).chave(), chave);
  a.guardarSessao({ token: 'T'.repeat(43), dispositivoId: 'abcd1234', nomePc: 'PC', base: '' });
  a.esquecerSessao();
  assert.equal(a.sessao(), null);
  assert.equal(a.chave(), chave);
  // The old token is kept to prove who we are on the next pairing.
  assert.equal(a.tokenAnterior(), 'T'.repeat(43));
  mem.setItem('velorin.chave', 'broken');
  assert.notEqual(a.chave(), 'broken');
});

test('a damaged stored session counts as none', () => {
  const mem = new Memoria();
  const a = new Armazem(mem);
  mem.setItem('velorin.sessao', '{not json');
  assert.equal(a.sessao(), null);
  mem.setItem('velorin.sessao', JSON.stringify({ token: 'short' }));
  assert.equal(a.sessao(), null);
});

test('storage that throws (private mode) does not break the panel', () => {
  const a = new Armazem({ getItem() { throw new Error('denied'); }, setItem() { throw new Error('denied'); }, removeItem() { throw new Error('denied'); } });
  assert.ok(chaveValida(a.chave()));
  assert.equal(a.sessao(), null);
});

test('default phone name from the browser', () => {
  const casos: [string, string][] = [
    ['Mozilla/5.0 (iPhone; CPU iPhone OS 17_0 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.0 Mobile/15E148 Safari/604.1', 'iPhone · Safari'],
    ['Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Mobile Safari/537.36', 'Pixel 8 · Chrome'],
    ['Mozilla/5.0 (Linux; Android 10; K) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Mobile Safari/537.36', 'Android · Chrome'],
    ['Mozilla/5.0 (Linux; Android 13; SM-S911B) AppleWebKit/537.36 (KHTML, like Gecko) SamsungBrowser/23.0 Chrome/115.0 Mobile Safari/537.36', 'SM-S911B · Samsung Internet'],
    ['Mozilla/5.0 (Android 14; Mobile; rv:121.0) Gecko/121.0 Firefox/121.0', 'Android · Firefox'],
    ['', 'Celular'],
  ];
  for (const [ua, nome] of casos) assert.equal(nomePadrao(ua), nome, ua);
  assert.ok(nomePadrao('x'.repeat(100) + ' Android 14; ' + 'M'.repeat(60) + ')').length <= 40);
});
