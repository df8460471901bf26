import { test } from 'node:test';
import assert from 'node:assert/strict';
import { OPCOES_ATRASO, atrasoPersonalizado, formatarContagem, rotuloAtraso } from '../src/atraso.ts';

test('the delay picker offers now and 1, 5, 15, 30, 60 minutes', () => {
  assert.deepEqual(OPCOES_ATRASO.map((o) => o.segundos), [0, 60, 300, 900, 1800, 3600]);
});

test('the custom delay stays within what the PC accepts', () => {
  const casos: [string, string, number | null][] = [
    ['', '10', 600],
    ['1', '30', 5400],
    ['24', '', 86400],
    ['24', '0', 86400],
    ['23', '59', 86340],
    ['0', '1440', 86400],
    // More than 24 h would be cut silently by the PC: refused here instead.
    ['24', '1', null],
    ['25', '', null],
    ['0', '1441', null],
    ['', '', null],
    ['0', '0', null],
    ['-1', '5', null],
    ['1.5', '', null],
    ['abc', '', null],
    [' 2 ', ' 5 ', 7500],
  ];
  for (const [h, m, s] of casos) assert.equal(atrasoPersonalizado(h, m), s, `${h}h ${m}m`);
});

test('countdowns and labels', () => {
  const casos: [number, string][] = [[0, '0:00'], [-5, '0:00'], [9.9, '0:09'], [59, '0:59'], [600, '10:00'], [3599, '59:59'], [3600, '1:00:00'], [86400, '24:00:00'], [5025, '1:23:45']];
  for (const [s, txt] of casos) assert.equal(formatarContagem(s), txt, String(s));
  assert.equal(rotuloAtraso(300), '5 min');
  assert.equal(rotuloAtraso(3600), '1 h');
  assert.equal(rotuloAtraso(5400), '1 h 30 min');
});
