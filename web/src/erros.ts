// What the panel does with each refusal of the PC. The API's "mensagem" is
// always Portuguese, so the panel shows its own text per code and falls back to
// the PC's words only for a code it does not know.

import { ERRO_REDE, type Falha } from './api.ts';
import { t, type Chave } from './textos.ts';

export type Reacao =
  // The token is gone: back to pairing with an explanation.
  | 'reparear'
  // Remote control paused or the app updating: a banner, not a dialog.
  | 'aviso'
  // The PC could not be reached: show "offline", never old data.
  | 'offline'
  // A refusal of this one request: a short message where the user acted.
  | 'erro';

export interface ErroMapeado {
  reacao: Reacao;
  chave: Chave | null;
  // Filled when chave is null: the PC's own message or a generic text.
  texto: string;
}

const POR_CODIGO: Record<string, Chave> = {
  pareamento_fechado: 'erro.pareamento_fechado',
  codigo_invalido: 'erro.codigo_invalido',
  limite: 'erro.limite',
  pausado: 'erro.pausado',
  atualizando: 'erro.atualizando',
  nao_autorizado: 'erro.nao_autorizado',
  requisicao_invalida: 'erro.requisicao_invalida',
  indisponivel: 'erro.indisponivel',
  sem_audio: 'erro.sem_audio',
  tela_indisponivel: 'erro.tela_indisponivel',
  saida_audio_ausente: 'erro.saida_audio_ausente',
  troca_audio_falhou: 'erro.troca_audio_falhou',
  entrada_indisponivel: 'erro.entrada_indisponivel',
  transferencia_expirada: 'erro.transferencia_expirada',
  atalho_nao_encontrado: 'erro.atalho_nao_encontrado',
  atalhos_invalidos: 'erro.atalho',
  atalho_ocupado: 'erro.atalho',
  atalho_ausente: 'erro.atalho',
  atalho_abertura_falhou: 'erro.atalho',
  navegador_ausente: 'erro.atalho',
  atalho_invalido: 'erro.atalho',
  host_invalido: 'erro.endereco',
  origem_invalida: 'erro.endereco',
  erro_interno: 'erro.erro_interno',
};

export function mapearErro(f: Falha): ErroMapeado {
  if (f.status === 0 || f.erro === ERRO_REDE) {
    return { reacao: 'offline', chave: 'erro.rede', texto: t('erro.rede') };
  }
  // A 401 from the pairing route itself cannot happen; from any other route it
  // means this phone's token was revoked (unpaired on the PC, or replaced).
  if (f.status === 401) {
    return { reacao: 'reparear', chave: 'erro.nao_autorizado', texto: t('erro.nao_autorizado') };
  }
  if (f.status === 503 && (f.erro === 'pausado' || f.erro === 'atualizando')) {
    const chave = POR_CODIGO[f.erro];
    return { reacao: 'aviso', chave, texto: t(chave) };
  }
  // "indisponivel" is both "this PC cannot do that" (409) and "no shortcut
  // catalog" (503).
  if (f.erro === 'indisponivel' && f.status === 503) {
    return { reacao: 'erro', chave: 'erro.atalhosIndisponiveis', texto: t('erro.atalhosIndisponiveis') };
  }
  const chave = POR_CODIGO[f.erro];
  if (chave) return { reacao: 'erro', chave, texto: t(chave) };
  return { reacao: 'erro', chave: null, texto: f.mensagem || t('erro.generico', f.status) };
}
