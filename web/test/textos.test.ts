import { test } from 'node:test';
import assert from 'node:assert/strict';
import { TABELAS, idiomaDoNavegador, definirIdioma, t } from '../src/textos.ts';

test('the three languages define the same texts with the same placeholders', () => {
  const ref = TABELAS.pt;
  const marcas = (s: string) => (s.match(/\{\d\}/g) ?? []).sort().join();
  for (const [idioma, tab] of Object.entries(TABELAS)) {
    assert.deepEqual(Object.keys(tab).sort(), Object.keys(ref).sort(), idioma);
    for (const [k, v] of Object.entries(tab)) {
      assert.ok(v.trim().length > 0, `${idioma} ${k} empty`);
      assert.equal(marcas(v), marcas(ref[k as keyof typeof ref]), `${idioma} ${k} placeholders`);
    }
  }
});

test('picks the language like the PC does', () => {
  const casos: [string[], string][] = [
    [['pt-BR'], 'pt'], [['pt-PT', 'en'], 'pt'], [['es-419'], 'es'], [['es'], 'es'],
    [['en-US'], 'en'], [['de-DE'], 'en'], [['de-DE', 'es-ES'], 'es'], [[], 'en'], [['ES_mx'], 'es'],
  ];
  for (const [l, esperado] of casos) assert.equal(idiomaDoNavegador(l), esperado, l.join());
});

test('fills placeholders after translation', () => {
  definirIdioma('en');
  assert.equal(t('agend.pedidoPor', 'Ana <3'), 'Requested by Ana <3');
  definirIdioma('pt');
  assert.equal(t('folha.min', 5), '5 min');
});
