// The PC's HTTP API as the panel uses it. Every route, body and answer shape
// lives here, so the rest of the panel never builds a URL or reads a raw
// response by itself.

export interface Saida {
  id: string;
  nome: string;
  padrao: boolean;
}

export interface Agendamento {
  acao: 'desligar' | 'reiniciar' | 'suspender';
  segundosRestantes: number;
  pedidoPor: string;
  forcar: boolean;
}

export interface Status {
  nomePc: string;
  versao: string;
  pausado: boolean;
  simulacao: boolean;
  atalhosRevisao?: number;
  recursos: {
    suspender: boolean;
    entrada: boolean;
    entradaInternet: boolean;
    tela: boolean;
    saidaAudio: boolean;
    atalhos: boolean;
  };
  audio: { podeTrocar: boolean; saidas: Saida[] };
  tela: { ligada: boolean | null };
  volume: { disponivel: false } | { disponivel: true; nivel: number; mudo: boolean };
  agendamento: Agendamento | null;
  dispositivo: { id: string; nome: string };
}

export interface Atalho {
  id: string;
  nome: string;
  tipo: 'programa' | 'site' | 'navegador' | string;
  comum: boolean;
}

export interface ListaAtalhos {
  revisao: number;
  itens: Atalho[];
}

export type AcaoEnergia = 'bloquear' | 'desligar' | 'reiniciar' | 'suspender';
export type AcaoMidia = 'tocarPausar' | 'proxima' | 'anterior';
export type AcaoMouse =
  | { acao: 'mover'; x: number; y: number }
  | { acao: 'rolar'; passos: number }
  | { acao: 'clique' | 'direito' | 'duplo' };

// Key names the PC accepts for "tecla" (case-sensitive on the PC side).
export const TECLAS = [
  'enter', 'tab', 'backspace', 'delete', 'escape', 'esquerda', 'direita', 'cima', 'baixo',
  'home', 'end', 'pageUp', 'pageDown', 'espaco', 'f5',
] as const;
export const COMBINACOES = [
  'copiar', 'colar', 'recortar', 'selecionarTudo', 'desfazer', 'refazer', 'alternarJanela',
  'mostrarDesktop',
] as const;
export type Tecla = (typeof TECLAS)[number] | (typeof COMBINACOES)[number];

// Limits the PC enforces; the panel keeps within them instead of collecting 400s.
export const MOUSE_MAX = 2000;
export const ROLAR_MAX = 10;
export const ATRASO_MAX = 86400;
export const TEXTO_MAX_UNIDADES = 512;

export type Resultado<T> =
  | { ok: true; status: number; dados: T }
  | Falha;

export interface Falha {
  ok: false;
  // 0 when the request never got an answer (network down, PC gone, time-out).
  status: number;
  erro: string;
  mensagem: string;
  // Seconds from "Retry-After" on a 429; 0 otherwise.
  repetirEm: number;
}

export const ERRO_REDE = 'rede';

export interface Opcoes {
  // Empty for the page's own origin, else "http://addr:port" of the PC.
  base: string;
  token: () => string;
  tempoLimiteMs?: number;
  buscar?: typeof fetch;
}

export class ClienteApi {
  private readonly o: Opcoes;

  constructor(o: Opcoes) {
    this.o = o;
  }

  get base(): string {
    return this.o.base;
  }

  ping() {
    return this.pedir<{ app: string; versao: string }>('GET', '/api/ping', undefined, false);
  }

  parear(p: {
    codigo: string;
    nomeDispositivo: string;
    chaveDispositivo?: string;
    tokenAnterior?: string;
    substituirMesmoNome?: boolean;
  }) {
    const corpo: Record<string, unknown> = { codigo: p.codigo, nomeDispositivo: p.nomeDispositivo };
    if (p.chaveDispositivo) corpo.chaveDispositivo = p.chaveDispositivo;
    if (p.tokenAnterior) corpo.tokenAnterior = p.tokenAnterior;
    if (p.substituirMesmoNome) corpo.substituirMesmoNome = true;
    return this.pedir<{ token: string; dispositivoId: string; nomePc: string }>(
      'POST', '/api/parear', corpo, false);
  }

  desparear() {
    return this.pedir<null>('DELETE', '/api/parear', undefined, true);
  }

  status() {
    return this.pedir<Status>('GET', '/api/status', undefined, true);
  }

  criarTransferencia(chaveDispositivo?: string) {
    return this.pedir<{ ticket: string }>('POST', '/api/transferencia',
      chaveDispositivo ? { chaveDispositivo } : {}, true);
  }

  consumirTransferencia(ticket: string, tokenAtual?: string) {
    const corpo: Record<string, unknown> = { ticket };
    if (tokenAtual) corpo.tokenAtual = tokenAtual;
    return this.pedir<{ token: string; nomePc: string; nomeDispositivo: string; chaveDispositivo: string }>(
      'POST', '/api/transferencia/consumir', corpo, false);
  }

  atalhos() {
    return this.pedir<ListaAtalhos>('GET', '/api/atalhos', undefined, true);
  }

  abrirAtalho(id: string) {
    return this.pedir<{ solicitado: string }>('POST', '/api/atalhos/abrir', { id }, true);
  }

  energia(acao: AcaoEnergia, atrasoSegundos = 0, forcar = false) {
    const corpo = acao === 'bloquear' ? { acao } : { acao, atrasoSegundos, forcar };
    return this.pedir<{ agendamento: Agendamento } | null>('POST', '/api/energia', corpo, true);
  }

  cancelarEnergia() {
    return this.pedir<{ cancelado: boolean }>('POST', '/api/energia/cancelar', {}, true);
  }

  tela(acao: 'apagar' | 'acender') {
    return this.pedir<{ solicitado: string }>('POST', '/api/tela', { acao }, true);
  }

  saidaAudio(id: string) {
    return this.pedir<{ podeTrocar: boolean; saidas: Saida[] }>('PUT', '/api/audio/saida', { id }, true);
  }

  volume(v: { nivel?: number; mudo?: boolean }) {
    return this.pedir<{ nivel: number; mudo: boolean }>('PUT', '/api/volume', v, true);
  }

  midia(acao: AcaoMidia) {
    return this.pedir<null>('POST', '/api/midia', { acao }, true);
  }

  mouse(m: AcaoMouse) {
    return this.pedir<null>('POST', '/api/mouse', m, true);
  }

  teclado(t: { texto: string } | { tecla: Tecla }) {
    return this.pedir<null>('POST', '/api/teclado', t, true);
  }

  private async pedir<T>(metodo: string, caminho: string, corpo: unknown, autenticado: boolean): Promise<Resultado<T>> {
    const cabecalhos: Record<string, string> = {};
    if (autenticado) cabecalhos.Authorization = 'Bearer ' + this.o.token();
    let texto: string | undefined;
    // POST and PUT always carry JSON, an empty object when there is nothing to say:
    // the PC refuses any other content type on those methods.
    if (metodo === 'POST' || metodo === 'PUT') {
      cabecalhos['Content-Type'] = 'application/json';
      texto = JSON.stringify(corpo ?? {});
    }
    const controle = new AbortController();
    const relogio = setTimeout(() => controle.abort(), this.o.tempoLimiteMs ?? 8000);
    let resp: Response;
    try {
      resp = await (this.o.buscar ?? fetch)(this.o.base + caminho, {
        method: metodo,
        headers: cabecalhos,
        body: texto,
        cache: 'no-store',
        credentials: 'omit',
        signal: controle.signal,
      });
    } catch {
      clearTimeout(relogio);
      return { ok: false, status: 0, erro: ERRO_REDE, mensagem: '', repetirEm: 0 };
    }
    let dados: unknown = null;
    try {
      const bruto = await resp.text();
      if (bruto) dados = JSON.parse(bruto);
    } catch {
      dados = null;
    } finally {
      clearTimeout(relogio);
    }
    if (resp.ok) return { ok: true, status: resp.status, dados: dados as T };
    return falhaDeResposta(resp.status, dados, resp.headers.get('Retry-After'));
  }
}

export function falhaDeResposta(status: number, dados: unknown, retryAfter: string | null): Falha {
  const obj = (dados && typeof dados === 'object' ? dados : {}) as Record<string, unknown>;
  const erro = typeof obj.erro === 'string' && obj.erro ? obj.erro : 'http_' + status;
  const mensagem = typeof obj.mensagem === 'string' ? obj.mensagem : '';
  const n = retryAfter !== null && /^\s*\d+\s*$/.test(retryAfter) ? parseInt(retryAfter, 10) : 0;
  return { ok: false, status, erro, mensagem, repetirEm: status === 429 ? n : 0 };
}
