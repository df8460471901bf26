import { test } from 'node:test';
import assert from 'node:assert/strict';
import { baseDoLocal, lerFragmento, normalizarCodigo, ticketDeTexto } from '../src/fragmento.ts';

const TICKET = 'A'.repeat(20) + '_-' + 'z9'.repeat(10) + 'Q'; // 43 chars

test('reads the link fragments the panel can be opened with', () => {
  const casos: [string, object][] = [
    ['', { limpar: false }],
    ['#', { limpar: false }],
    ['#parear=123456', { limpar: true, codigo: '123456' }],
    ['parear=123456', { limpar: true, codigo: '123456' }],
    // Not exactly six digits: dropped, but still removed from the address bar.
    ['#parear=12345', { limpar: true }],
    ['#parear=1234567', { limpar: true }],
    ['#parear=12a456', { limpar: true }],
    ['#parear=123%20456', { limpar: true }],
    // The installed app's start address: same PC, nothing to clean.
    ['#local', { limpar: false, local: '' }],
    ['#local=192.168.0.10:8765&parear=654321', { limpar: true, local: '192.168.0.10:8765', codigo: '654321' }],
    ['#local=meu-pc.local', { limpar: true, local: 'meu-pc.local' }],
    ['#local=http://evil.example/x', { limpar: true }],
    ['#local=host:99999', { limpar: true }],
    ['#local=user@host', { limpar: true }],
    ['#transferir=' + TICKET, { limpar: true, ticket: TICKET }],
    ['#transferir=short', { limpar: true }],
    ['#entrar=abc', { limpar: true, nuvem: true }],
    ['#pc=xyz', { limpar: true, nuvem: true }],
    ['#outra=1', { limpar: false }],
    ['#parear=%E0%A4%A', { limpar: true }],
  ];
  for (const [hash, esperado] of casos) assert.deepEqual(lerFragmento(hash), esperado, hash);
});

test('normalises typed and pasted codes', () => {
  const casos: [string, string | null][] = [
    ['123456', '123456'],
    ['123 456', '123456'],
    [' 1 2 3 4 5 6 ', '123456'],
    ['123\u00a0456', '123456'],
    ['12345', null],
    ['1234567', null],
    ['123-456', null],
    ['', null],
    ['١٢٣٤٥٦', null],
  ];
  for (const [entrada, saida] of casos) assert.equal(normalizarCodigo(entrada), saida, entrada);
});

test('talks to another PC only when #local names a different host', () => {
  assert.equal(baseDoLocal(undefined, '10.0.0.2:8765'), '');
  assert.equal(baseDoLocal('', '10.0.0.2:8765'), '');
  assert.equal(baseDoLocal('10.0.0.2:8765', '10.0.0.2:8765'), '');
  assert.equal(baseDoLocal('MEU-PC.local', 'meu-pc.local'), '');
  assert.equal(baseDoLocal('10.0.0.3:8765', 'app.example'), 'http://10.0.0.3:8765');
});

test('takes the hand-over ticket from the bare ticket or the whole link', () => {
  assert.equal(ticketDeTexto(TICKET), TICKET);
  assert.equal(ticketDeTexto('  ' + TICKET + '\n'), TICKET);
  assert.equal(ticketDeTexto('http://10.0.0.2:8765/panel/#transferir=' + TICKET), TICKET);
  assert.equal(ticketDeTexto('http://10.0.0.2:8765/panel/#parear=123456'), null);
  assert.equal(ticketDeTexto('nonsense'), null);
});
