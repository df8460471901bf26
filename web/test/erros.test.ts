import { test } from 'node:test';
import assert from 'node:assert/strict';
import { falhaDeResposta, type Falha } from '../src/api.ts';
import { mapearErro } from '../src/erros.ts';
import { definirIdioma, t } from '../src/textos.ts';

const falha = (status: number, erro: string, mensagem = ''): Falha => ({ ok: false, status, erro, mensagem, repetirEm: 0 });

test('every refusal of the pairing and status routes gets its own text and reaction', () => {
  definirIdioma('en');
  const casos: [Falha, string, string][] = [
    [falha(410, 'pareamento_fechado'), 'erro', 'erro.pareamento_fechado'],
    [falha(403, 'codigo_invalido'), 'erro', 'erro.codigo_invalido'],
    [falha(429, 'limite'), 'erro', 'erro.limite'],
    [falha(503, 'pausado'), 'aviso', 'erro.pausado'],
    [falha(503, 'atualizando'), 'aviso', 'erro.atualizando'],
    [falha(401, 'nao_autorizado'), 'reparear', 'erro.nao_autorizado'],
    [falha(0, 'rede'), 'offline', 'erro.rede'],
    [falha(410, 'transferencia_expirada'), 'erro', 'erro.transferencia_expirada'],
    [falha(409, 'indisponivel'), 'erro', 'erro.indisponivel'],
    [falha(503, 'indisponivel'), 'erro', 'erro.atalhosIndisponiveis'],
    [falha(409, 'sem_audio'), 'erro', 'erro.sem_audio'],
    [falha(409, 'tela_indisponivel'), 'erro', 'erro.tela_indisponivel'],
    [falha(409, 'saida_audio_ausente'), 'erro', 'erro.saida_audio_ausente'],
    [falha(409, 'troca_audio_falhou'), 'erro', 'erro.troca_audio_falhou'],
    [falha(409, 'entrada_indisponivel'), 'erro', 'erro.entrada_indisponivel'],
    [falha(404, 'atalho_nao_encontrado'), 'erro', 'erro.atalho_nao_encontrado'],
    [falha(409, 'atalho_ocupado'), 'erro', 'erro.atalho'],
    [falha(421, 'host_invalido'), 'erro', 'erro.endereco'],
    [falha(403, 'origem_invalida'), 'erro', 'erro.endereco'],
    [falha(500, 'erro_interno'), 'erro', 'erro.erro_interno'],
  ];
  for (const [f, reacao, chave] of casos) {
    const m = mapearErro(f);
    assert.equal(m.reacao, reacao, f.erro);
    assert.equal(m.chave, chave, f.erro);
    assert.equal(m.texto, t(chave as never));
  }
});

test('the PC’s Portuguese message is only a fallback for unknown codes', () => {
  definirIdioma('es');
  assert.equal(mapearErro(falha(409, 'algo_novo', 'Mensagem do PC')).texto, 'Mensagem do PC');
  assert.equal(mapearErro(falha(502, 'http_502')).texto, t('erro.generico', 502));
  // A known code never shows the Portuguese text, whatever the language.
  assert.notEqual(mapearErro(falha(403, 'codigo_invalido', 'Código incorreto ou expirado.')).texto, 'Código incorreto ou expirado.');
});

test('reads the error object and Retry-After from an answer', () => {
  assert.deepEqual(falhaDeResposta(429, { erro: 'limite', mensagem: 'x' }, '593'),
    { ok: false, status: 429, erro: 'limite', mensagem: 'x', repetirEm: 593 });
  assert.equal(falhaDeResposta(429, { erro: 'limite' }, 'soon').repetirEm, 0);
  assert.equal(falhaDeResposta(429, { erro: 'limite' }, null).repetirEm, 0);
  // Retry-After means nothing on other statuses.
  assert.equal(falhaDeResposta(503, { erro: 'pausado' }, '10').repetirEm, 0);
  // A body that is not the error object still gives a usable failure.
  assert.deepEqual(falhaDeResposta(502, null, null), { ok: false, status: 502, erro: 'http_502', mensagem: '', repetirEm: 0 });
  assert.equal(falhaDeResposta(400, [1, 2], null).erro, 'http_400');
});
