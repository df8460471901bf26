// The phone panel: pairing, then the remote control. Screens are built from
// the last status the PC sent and rebuilt when the language changes.

import { ClienteApi, TEXTO_MAX_UNIDADES, TECLAS, COMBINACOES, type Falha, type Status, type Resultado, type ListaAtalhos, type Tecla, type AcaoEnergia } from './api.ts';
import { Armazem, nomePadrao, type Tema } from './armazem.ts';
import { OPCOES_ATRASO, atrasoPersonalizado, formatarContagem, rotuloAtraso } from './atraso.ts';
import { h, icone } from './dom.ts';
import { CanalMouse, UltimoValor } from './envio.ts';
import { mapearErro } from './erros.ts';
import { baseDoLocal, lerFragmento, normalizarCodigo, ticketDeTexto } from './fragmento.ts';
import { Gestos } from './gestos.ts';
import { spriteSvg } from './icones.ts';
import { IDIOMAS, TABELAS, definirIdioma, idiomaAtual, idiomaDoNavegador, t, type Chave, type Idioma } from './textos.ts';

// Status refresh while the page is visible.
const INTERVALO_STATUS_MS = 3000;
// After a command, ask for the status again shortly (several quick taps share it).
const STATUS_APOS_COMANDO_MS = 150;

type Aba = 'controle' | 'touchpad' | 'teclado' | 'atalhos';

const armazem = new Armazem(localStorage);
const raiz = document.getElementById('app')!;

interface Estado {
  tela: 'pareamento' | 'painel';
  aba: Aba;
  status: Status | null;
  // Answer to the last status request: null while none has come back yet.
  online: boolean | null;
  aviso: 'pausado' | 'atualizando' | null;
  // Message for the pairing screen (why we are here) and its kind.
  msgPareamento: { texto: string; erro: boolean } | null;
  codigoInicial: string;
  ticketInicial: string;
  // Deadline of the pending power action, on this phone's clock.
  prazoAgendamento: number;
  atalhos: ListaAtalhos | null;
  atalhosErro: string;
  ajustesAbertos: boolean;
}

const e: Estado = {
  tela: 'pareamento',
  aba: 'controle',
  status: null,
  online: null,
  aviso: null,
  msgPareamento: null,
  codigoInicial: '',
  ticketInicial: '',
  prazoAgendamento: 0,
  atalhos: null,
  atalhosErro: '',
  ajustesAbertos: false,
};

let api = new ClienteApi({ base: armazem.texto('base') ?? '', token: () => armazem.sessao()?.token ?? '' });

function usarBase(base: string): void {
  armazem.guardarTexto('base', base);
  api = new ClienteApi({ base, token: () => armazem.sessao()?.token ?? '' });
}

// ---------------------------------------------------------------- feedback

function vibrar(): void {
  if (armazem.texto('vibrar') === 'nao') return;
  try {
    navigator.vibrate?.(12);
  } catch {
    // Not allowed here (no user gesture, or the browser refuses): silent.
  }
}

let avisoRelogio: ReturnType<typeof setTimeout> | undefined;
function avisar(texto: string, erro = false): void {
  const el = document.getElementById('toast');
  if (!el) return;
  el.textContent = texto;
  el.className = 'toast visivel' + (erro ? ' erro' : '');
  clearTimeout(avisoRelogio);
  avisoRelogio = setTimeout(() => (el.className = 'toast'), erro ? 5000 : 2200);
}

// ---------------------------------------------------------------- status

let statusEmVoo = false;
let statusRelogio: ReturnType<typeof setTimeout> | undefined;
let proximoStatusRapido: ReturnType<typeof setTimeout> | undefined;

function agendarStatus(ms: number): void {
  clearTimeout(statusRelogio);
  if (e.tela !== 'painel' || document.hidden) return;
  statusRelogio = setTimeout(lerStatus, ms);
}

function statusEmBreve(): void {
  clearTimeout(proximoStatusRapido);
  proximoStatusRapido = setTimeout(lerStatus, STATUS_APOS_COMANDO_MS);
}

async function lerStatus(): Promise<void> {
  if (e.tela !== 'painel' || statusEmVoo) return;
  statusEmVoo = true;
  const r = await api.status();
  statusEmVoo = false;
  if (e.tela !== 'painel') return;
  if (r.ok) {
    const antes = e.status;
    e.status = r.dados;
    e.online = true;
    if (!r.dados.pausado && e.aviso === 'pausado') e.aviso = null;
    if (r.dados.pausado) e.aviso = 'pausado';
    if (e.aviso === 'atualizando' && antes) e.aviso = null;
    e.prazoAgendamento = r.dados.agendamento ? Date.now() + r.dados.agendamento.segundosRestantes * 1000 : 0;
    const sessao = armazem.sessao();
    if (sessao && (sessao.nomePc !== r.dados.nomePc || sessao.dispositivoId !== r.dados.dispositivo.id)) {
      armazem.guardarSessao({ ...sessao, nomePc: r.dados.nomePc, dispositivoId: r.dados.dispositivo.id });
    }
    if (e.aba === 'atalhos' && r.dados.atalhosRevisao !== undefined && e.atalhos?.revisao !== r.dados.atalhosRevisao) {
      void carregarAtalhos();
    }
  } else {
    tratarFalha(r, false);
  }
  atualizarPainel();
  agendarStatus(INTERVALO_STATUS_MS);
}

// Common handling of a refused or lost request. Returns the text for the
// place where the user acted, or null when the page already said it.
function tratarFalha(f: Falha, mostrar = true): string | null {
  const m = mapearErro(f);
  switch (m.reacao) {
    case 'reparear':
      voltarAoPareamento(t('parear.desfeito'), true);
      return null;
    case 'offline':
      // Never leave the old numbers on screen as if they were live.
      e.online = false;
      e.status = null;
      e.prazoAgendamento = 0;
      atualizarPainel();
      return null;
    case 'aviso':
      e.aviso = f.erro === 'atualizando' ? 'atualizando' : 'pausado';
      atualizarPainel();
      return null;
    default:
      if (mostrar) avisar(m.texto, true);
      return m.texto;
  }
}

// Runs one command: pressed state and haptic tick at once, then the PC's
// answer; a fresh status follows every command.
async function comando<T>(
  botao: HTMLElement | null,
  pedido: () => Promise<Resultado<T>>,
  ok?: (dados: T) => void,
): Promise<Resultado<T>> {
  vibrar();
  botao?.classList.add('enviando');
  const r = await pedido();
  botao?.classList.remove('enviando');
  if (r.ok) {
    e.online = true;
    ok?.(r.dados);
  } else {
    tratarFalha(r);
  }
  statusEmBreve();
  return r;
}

function voltarAoPareamento(msg: string | null, erro: boolean): void {
  armazem.esquecerSessao();
  e.tela = 'pareamento';
  e.status = null;
  e.online = null;
  e.aviso = null;
  e.atalhos = null;
  e.ajustesAbertos = false;
  e.msgPareamento = msg ? { texto: msg, erro } : null;
  clearTimeout(statusRelogio);
  montar();
}

function entrarNoPainel(): void {
  e.tela = 'painel';
  e.msgPareamento = null;
  e.online = null;
  montar();
  void lerStatus();
}

// ---------------------------------------------------------------- pairing

let esperaRelogio: ReturnType<typeof setInterval> | undefined;

function telaPareamento(): HTMLElement {
  const msg = h('p', { class: 'msg', role: 'alert', id: 'msg-parear' });
  const mostrar = (texto: string, erro: boolean) => {
    msg.textContent = texto;
    msg.className = 'msg' + (texto ? (erro ? ' erro' : ' info') : '');
  };
  if (e.msgPareamento) mostrar(e.msgPareamento.texto, e.msgPareamento.erro);

  const codigo = h('input', {
    id: 'codigo', class: 'codigo', type: 'text', inputmode: 'numeric', autocomplete: 'one-time-code',
    maxlength: 9, placeholder: '000 000', 'aria-describedby': 'msg-parear', spellcheck: 'false',
    value: e.codigoInicial ? e.codigoInicial.slice(0, 3) + ' ' + e.codigoInicial.slice(3) : '',
  });
  // Keep "123 456" readable as it is typed or pasted, whatever spacing came in.
  codigo.addEventListener('input', () => {
    const d = codigo.value.replace(/\D/g, '').slice(0, 6);
    const fmt = d.length > 3 ? d.slice(0, 3) + ' ' + d.slice(3) : d;
    if (fmt !== codigo.value) codigo.value = fmt;
  });
  const nome = h('input', {
    id: 'nome', type: 'text', maxlength: 40, autocomplete: 'off',
    value: armazem.nome() ?? nomePadrao(navigator.userAgent, navigator.platform),
  });
  const substituir = h('input', { id: 'substituir', type: 'checkbox' });
  const botao = h('button', { class: 'primario grande', type: 'submit', id: 'btn-parear' }, t('parear.botao'));

  const esperar = (seg: number) => {
    clearInterval(esperaRelogio);
    const fim = Date.now() + seg * 1000;
    const passo = () => {
      const resta = Math.ceil((fim - Date.now()) / 1000);
      if (resta <= 0) {
        clearInterval(esperaRelogio);
        botao.disabled = false;
        mostrar('', false);
        return;
      }
      botao.disabled = true;
      mostrar(t('erro.limite') + ' ' + t('parear.tentarEm', formatarContagem(resta)), true);
    };
    passo();
    esperaRelogio = setInterval(passo, 1000);
  };

  const form = h('form', { class: 'cartao pareamento', novalidate: true },
    h('label', { for: 'codigo' }, t('parear.codigo')),
    codigo,
    h('label', { for: 'nome' }, t('parear.nome')),
    nome,
    h('div', { class: 'opcao' },
      substituir,
      h('label', { for: 'substituir' }, t('parear.substituir'),
        h('span', { class: 'ajuda' }, t('parear.substituirAjuda')))),
    botao,
    msg,
  );
  form.addEventListener('submit', async (ev) => {
    ev.preventDefault();
    const c = normalizarCodigo(codigo.value);
    if (!c) {
      mostrar(t('parear.codigoIncompleto'), true);
      codigo.focus();
      return;
    }
    vibrar();
    const n = nome.value.trim() || nomePadrao(navigator.userAgent);
    armazem.guardarNome(n);
    botao.disabled = true;
    botao.textContent = t('parear.aguarde');
    const r = await api.parear({
      codigo: c,
      nomeDispositivo: n,
      chaveDispositivo: armazem.chave(),
      tokenAnterior: armazem.tokenAnterior(),
      substituirMesmoNome: substituir.checked,
    });
    botao.disabled = false;
    botao.textContent = t('parear.botao');
    if (r.ok) {
      armazem.guardarSessao({ token: r.dados.token, dispositivoId: r.dados.dispositivoId, nomePc: r.dados.nomePc, base: api.base });
      e.codigoInicial = '';
      entrarNoPainel();
      return;
    }
    if (r.status === 429) {
      esperar(r.repetirEm > 0 ? r.repetirEm : 600);
      return;
    }
    mostrar(mapearErro(r).texto, true);
    if (r.erro === 'codigo_invalido') codigo.select();
  });

  // Hand-over from the browser tab into this (installed) copy.
  const ticket = h('input', { id: 'ticket', type: 'text', autocomplete: 'off', spellcheck: 'false', value: e.ticketInicial });
  const btnTicket = h('button', { class: 'secundario', type: 'submit' }, t('parear.transferirBotao'));
  const formTicket = h('form', { class: 'transferir' },
    h('label', { for: 'ticket' }, t('parear.transferirCampo')), ticket, btnTicket);
  const detalhes = h('details', { class: 'cartao', id: 'bloco-transferir' },
    h('summary', null, t('parear.transferir')), formTicket);
  const consumir = async () => {
    const tk = ticketDeTexto(ticket.value);
    if (!tk) {
      mostrar(t('parear.transferirInvalido'), true);
      return;
    }
    btnTicket.disabled = true;
    mostrar(t('parear.transferindo'), false);
    const anterior = armazem.sessao()?.token ?? armazem.tokenAnterior();
    const r = await api.consumirTransferencia(tk, anterior);
    btnTicket.disabled = false;
    e.ticketInicial = '';
    if (r.ok) {
      if (r.dados.chaveDispositivo) armazem.trocarChave(r.dados.chaveDispositivo);
      if (r.dados.nomeDispositivo) armazem.guardarNome(r.dados.nomeDispositivo);
      armazem.guardarSessao({ token: r.dados.token, dispositivoId: '', nomePc: r.dados.nomePc, base: api.base });
      entrarNoPainel();
      return;
    }
    if (r.status === 429) {
      esperar(r.repetirEm > 0 ? r.repetirEm : 600);
      return;
    }
    mostrar(mapearErro(r).texto, true);
  };
  formTicket.addEventListener('submit', (ev) => {
    ev.preventDefault();
    void consumir();
  });
  if (e.ticketInicial) {
    detalhes.open = true;
    queueMicrotask(() => void consumir());
  } else if (!e.codigoInicial) {
    queueMicrotask(() => codigo.focus());
  }

  return h('main', { class: 'tela-pareamento' },
    h('header', { class: 'marca' },
      h('img', { src: '/icone-180.png', alt: '', width: 56, height: 56 }),
      h('h1', null, t('parear.titulo')),
      seletorIdioma('idioma-pareamento')),
    h('p', { class: 'intro' }, t('parear.intro')),
    form,
    detalhes,
  );
}

function seletorIdioma(id: string): HTMLElement {
  const sel = h('select', { id, 'aria-label': t('aj.idioma') },
    IDIOMAS.map((i) => h('option', { value: i, selected: i === idiomaAtual() }, TABELAS[i]['idioma.nome'])));
  sel.addEventListener('change', () => {
    armazem.guardarTexto('idioma', sel.value);
    aplicarIdioma(sel.value as Idioma);
    montar();
    document.getElementById(id)?.focus();
  });
  return sel;
}

// ---------------------------------------------------------------- control tab

let volumeArrastando = false;
const envioVolume = new UltimoValor<{ nivel?: number; mudo?: boolean }, Resultado<{ nivel: number; mudo: boolean }>>(
  (v) => api.volume(v),
  (r, _v, final) => {
    if (!r.ok) {
      tratarFalha(r);
      return;
    }
    if (final && e.status && e.status.volume.disponivel) {
      e.status.volume.nivel = r.dados.nivel;
      e.status.volume.mudo = r.dados.mudo;
      if (!volumeArrastando) atualizarPainel();
    }
  },
);

function botaoAcao(id: string, ic: string, rotulo: string, onclick: (b: HTMLButtonElement) => void, classe = ''): HTMLButtonElement {
  const b = h('button', { id, type: 'button', class: 'acao ' + classe }, icone(ic), h('span', null, rotulo));
  b.addEventListener('click', () => onclick(b));
  return b;
}

function abaControle(): HTMLElement {
  const energia = h('section', { class: 'cartao', 'aria-labelledby': 'tit-energia' },
    h('h2', { id: 'tit-energia' }, t('ctl.energia')),
    h('div', { id: 'agendamento' }),
    botaoAcao('btn-bloquear', 'cadeado', t('ctl.bloquear'), (b) =>
      void comando(b, () => api.energia('bloquear'), () => avisar(t('ctl.bloqueado'))), 'primario larga'),
    h('div', { class: 'linha3' },
      botaoAcao('btn-desligar', 'desligar', t('acao.desligar'), () => abrirFolhaEnergia('desligar'), 'perigo'),
      botaoAcao('btn-reiniciar', 'reiniciar', t('acao.reiniciar'), () => abrirFolhaEnergia('reiniciar'), 'perigo'),
      botaoAcao('btn-suspender', 'suspender', t('acao.suspender'), () => abrirFolhaEnergia('suspender'))),
    h('p', { class: 'ajuda', id: 'suspender-indisp', hidden: true }, t('ctl.suspenderIndisponivel')),
  );

  const slider = h('input', { id: 'volume', type: 'range', min: 0, max: 100, step: 1, value: 0, 'aria-labelledby': 'tit-volume' });
  slider.addEventListener('input', () => {
    volumeArrastando = true;
    const n = Number(slider.value);
    document.getElementById('volume-num')!.textContent = String(n);
    envioVolume.definir({ nivel: n });
  });
  const soltar = () => {
    if (!volumeArrastando) return;
    volumeArrastando = false;
    envioVolume.definir({ nivel: Number(slider.value) });
    statusEmBreve();
  };
  slider.addEventListener('change', soltar);
  slider.addEventListener('pointerup', soltar);
  slider.addEventListener('touchend', soltar);
  const mudo = h('button', { id: 'btn-mudo', type: 'button', class: 'icone-btn', 'aria-pressed': 'false' }, icone('som'));
  mudo.addEventListener('click', () => {
    const v = e.status?.volume;
    if (!v || !v.disponivel) return;
    vibrar();
    envioVolume.definir({ mudo: !v.mudo });
    v.mudo = !v.mudo;
    atualizarPainel();
  });
  const volume = h('section', { class: 'cartao', 'aria-labelledby': 'tit-volume' },
    h('h2', { id: 'tit-volume' }, t('ctl.volume')),
    h('div', { class: 'volume', id: 'bloco-volume' }, mudo, slider, h('output', { id: 'volume-num', for: 'volume' }, '—')),
    h('p', { class: 'ajuda', id: 'sem-audio', hidden: true }, t('ctl.semAudio')),
    h('h3', { id: 'tit-saidas' }, t('ctl.saidas')),
    h('div', { id: 'saidas', role: 'radiogroup', 'aria-labelledby': 'tit-saidas', class: 'lista' }),
  );

  const midia = h('section', { class: 'cartao', 'aria-labelledby': 'tit-midia' },
    h('h2', { id: 'tit-midia' }, t('ctl.midia')),
    h('div', { class: 'linha3' },
      ...(['anterior', 'tocarPausar', 'proxima'] as const).map((a) => {
        const b = h('button', { id: 'midia-' + a, type: 'button', class: 'acao so-icone', 'aria-label': t(('midia.' + a) as Chave) },
          icone(a === 'tocarPausar' ? 'tocar' : a));
        b.addEventListener('click', () => void comando(b, () => api.midia(a)));
        return b;
      })),
  );

  const tela = h('section', { class: 'cartao', 'aria-labelledby': 'tit-tela' },
    h('h2', { id: 'tit-tela' }, t('ctl.tela'), h('span', { class: 'estado-tela', id: 'estado-tela' })),
    h('div', { class: 'linha2' },
      botaoAcao('tela-apagar', 'telaOff', t('tela.apagar'), (b) => void comando(b, () => api.tela('apagar'))),
      botaoAcao('tela-acender', 'telaOn', t('tela.acender'), (b) => void comando(b, () => api.tela('acender')))),
  );

  return h('div', { class: 'aba-conteudo' }, energia, volume, midia, tela);
}

function cartaoAgendamento(): HTMLElement | null {
  const a = e.status?.agendamento;
  if (!a || !e.prazoAgendamento) return null;
  const cancelar = h('button', { id: 'btn-cancelar-agendamento', type: 'button', class: 'secundario' }, t('agend.cancelar'));
  cancelar.addEventListener('click', () =>
    void comando(cancelar, () => api.cancelarEnergia(), (d) => {
      avisar(d.cancelado ? t('agend.cancelado') : t('agend.nadaPendente'));
      if (e.status) e.status.agendamento = null;
      e.prazoAgendamento = 0;
      atualizarPainel();
    }));
  return h('div', { class: 'agendado', role: 'status' },
    icone('relogio'),
    h('div', { class: 'agendado-texto' },
      h('span', null, t(('agend.' + a.acao) as Chave)),
      h('strong', { class: 'mono contagem', id: 'contagem' }, formatarContagem((e.prazoAgendamento - Date.now()) / 1000)),
      h('small', null, t('agend.pedidoPor', a.pedidoPor) + (a.forcar ? ' · ' + t('agend.forcado') : ''))),
    cancelar);
}

// ---------------------------------------------------------------- power sheet

function abrirFolhaEnergia(acao: Exclude<AcaoEnergia, 'bloquear'>): void {
  vibrar();
  let segundos = 0;
  const opcoes = h('div', { class: 'chips', role: 'radiogroup', 'aria-labelledby': 'tit-quando' });
  const horas = h('input', { id: 'atraso-horas', type: 'text', inputmode: 'numeric', maxlength: 2, placeholder: '0', 'aria-label': t('folha.horas') });
  const minutos = h('input', { id: 'atraso-minutos', type: 'text', inputmode: 'numeric', maxlength: 4, placeholder: '0', 'aria-label': t('folha.minutos') });
  const personal = h('div', { class: 'personalizado', hidden: true },
    h('label', null, horas, h('span', null, t('folha.horas'))),
    h('label', null, minutos, h('span', null, t('folha.minutos'))));
  const forcar = h('input', { id: 'forcar', type: 'checkbox' });
  const confirmar = h('button', { id: 'btn-confirmar-energia', type: 'button', class: 'perigo grande' });
  const atualizarConfirmar = () => {
    let s: number | null = segundos;
    if (!personal.hidden) s = atrasoPersonalizado(horas.value, minutos.value);
    confirmar.disabled = s === null;
    confirmar.textContent = t(('folha.confirmar.' + acao) as Chave) +
      (s ? ' ' + t('folha.emTempo', rotuloAtraso(s)) : s === 0 ? ' · ' + t('folha.agora').toLowerCase() : '');
    return s;
  };
  const chips: HTMLButtonElement[] = [];
  const escolher = (b: HTMLButtonElement, s: number | null) => {
    for (const c of chips) c.setAttribute('aria-checked', String(c === b));
    personal.hidden = s !== null;
    if (s !== null) segundos = s;
    else horas.focus();
    atualizarConfirmar();
  };
  for (const o of OPCOES_ATRASO) {
    const rot = o.minutos === 0 ? t('folha.agora') : o.minutos === 60 ? t('folha.hora') : t('folha.min', o.minutos);
    const b = h('button', { type: 'button', role: 'radio', class: 'chip', 'aria-checked': String(o.segundos === 0), 'data-segundos': o.segundos }, rot);
    b.addEventListener('click', () => escolher(b, o.segundos));
    chips.push(b);
  }
  const outro = h('button', { type: 'button', role: 'radio', class: 'chip', 'aria-checked': 'false', id: 'atraso-outro' }, t('folha.outro'));
  outro.addEventListener('click', () => escolher(outro, null));
  chips.push(outro);
  opcoes.append(...chips);
  horas.addEventListener('input', atualizarConfirmar);
  minutos.addEventListener('input', atualizarConfirmar);

  const folha = h('div', { class: 'folha-fundo', id: 'folha-energia' },
    h('div', { class: 'folha', role: 'dialog', 'aria-modal': 'true', 'aria-labelledby': 'tit-folha' },
      h('h2', { id: 'tit-folha' }, t(('folha.titulo.' + acao) as Chave)),
      h('h3', { id: 'tit-quando' }, t('folha.quando')),
      opcoes,
      h('p', { class: 'ajuda' }, t('folha.agoraAjuda')),
      personal,
      h('div', { class: 'opcao' }, forcar,
        h('label', { for: 'forcar' }, t('folha.forcar'), h('span', { class: 'ajuda' }, t('folha.forcarAjuda')))),
      confirmar,
      h('button', { type: 'button', class: 'texto', id: 'btn-voltar-folha', onclick: () => fechar() }, t('folha.voltar'))));
  const anterior = document.activeElement as HTMLElement | null;
  const fechar = () => {
    folha.remove();
    document.removeEventListener('keydown', tecla);
    anterior?.focus();
  };
  const tecla = (ev: KeyboardEvent) => {
    if (ev.key === 'Escape') fechar();
  };
  document.addEventListener('keydown', tecla);
  folha.addEventListener('click', (ev) => {
    if (ev.target === folha) fechar();
  });
  confirmar.addEventListener('click', async () => {
    const s = atualizarConfirmar();
    if (s === null) return;
    const r = await comando(confirmar, () => api.energia(acao, s, forcar.checked), (d) => {
      if (d && e.status) {
        e.status.agendamento = d.agendamento;
        e.prazoAgendamento = Date.now() + d.agendamento.segundosRestantes * 1000;
      }
    });
    if (r.ok || mapearErro(r).reacao !== 'erro') {
      fechar();
      atualizarPainel();
    }
  });
  atualizarConfirmar();
  document.body.append(folha);
  (chips[0] as HTMLElement).focus();
}

// ---------------------------------------------------------------- touchpad

const canal = new CanalMouse((m) =>
  api.mouse(m).then((r) => {
    if (!r.ok) tratarFalha(r);
  }));

function abaTouchpad(): HTMLElement {
  const area = h('div', { id: 'touchpad', class: 'touchpad', role: 'application', 'aria-label': t('tp.area'), tabindex: 0 });
  const gestos = new Gestos({
    mover: (dx, dy) => canal.mover(dx, dy),
    rolar: (p) => canal.rolar(p),
    clicar: (tipo) => {
      vibrar();
      canal.clicar(tipo);
    },
  });
  gestos.sensibilidade = Number(armazem.texto('sensibilidade') ?? '1.5') || 1.5;
  const pontos = (l: TouchList) => Array.from(l, (p) => ({ id: p.identifier, x: p.clientX, y: p.clientY }));
  area.addEventListener('touchstart', (ev) => {
    ev.preventDefault();
    gestos.comecar(ev.timeStamp, pontos(ev.changedTouches));
  }, { passive: false });
  area.addEventListener('touchmove', (ev) => {
    ev.preventDefault();
    gestos.mover(ev.timeStamp, pontos(ev.changedTouches));
  }, { passive: false });
  area.addEventListener('touchend', (ev) => {
    ev.preventDefault();
    gestos.terminar(ev.timeStamp, pontos(ev.changedTouches));
  }, { passive: false });
  area.addEventListener('touchcancel', () => gestos.cancelar());

  if (armazem.texto('dicaTouchpad') !== 'vista') {
    const ok = h('button', { type: 'button', class: 'secundario', id: 'btn-dica' }, t('tp.entendi'));
    const dica = h('div', { class: 'dica' }, h('p', null, t('tp.dica')), ok);
    ok.addEventListener('click', (ev) => {
      ev.stopPropagation();
      armazem.guardarTexto('dicaTouchpad', 'vista');
      dica.remove();
    });
    dica.addEventListener('touchstart', (ev) => ev.stopPropagation());
    area.append(dica);
  }
  const esq = h('button', { id: 'tp-esquerdo', type: 'button', class: 'acao' }, t('tp.esquerdo'));
  esq.addEventListener('click', () => {
    vibrar();
    canal.clicar('clique');
  });
  const dir = h('button', { id: 'tp-direito', type: 'button', class: 'acao' }, t('tp.direito'));
  dir.addEventListener('click', () => {
    vibrar();
    canal.clicar('direito');
  });
  return h('div', { class: 'aba-conteudo aba-touchpad' }, area, h('div', { class: 'linha2 botoes-touchpad' }, esq, dir));
}

// ---------------------------------------------------------------- keyboard

// Short faces for the key buttons; the spoken label is always the full name.
// Arrows and backspace are drawn as icons: the served fonts are latin subsets
// without those symbols, and a fallback font would show them tiny.
const ROTULO_TECLA: Partial<Record<Tecla, string>> = {
  pageUp: 'PgUp', pageDown: 'PgDn', home: 'Home', end: 'End', delete: 'Del', escape: 'Esc', tab: 'Tab',
};
const ICONE_TECLA: Partial<Record<Tecla, string>> = {
  esquerda: 'esquerda', direita: 'direita', cima: 'cima', baixo: 'baixo', backspace: 'apagar',
};

function abaTeclado(): HTMLElement {
  const campo = h('input', { id: 'texto', type: 'text', autocomplete: 'off', enterkeyhint: 'send', 'aria-label': t('tec.campo'), placeholder: t('tec.campo') });
  const enviar = h('button', { id: 'btn-enviar-texto', type: 'submit', class: 'primario', 'aria-label': t('tec.enviar') }, icone('enviar'), h('span', null, t('tec.enviar')));
  const form = h('form', { class: 'cartao enviar-texto' }, campo, enviar);
  form.addEventListener('submit', async (ev) => {
    ev.preventDefault();
    const texto = campo.value;
    if (!texto) return;
    if (texto.length > TEXTO_MAX_UNIDADES) {
      avisar(t('tec.textoLongo'), true);
      return;
    }
    const r = await comando(enviar, () => api.teclado({ texto }), () => avisar(t('tec.enviado')));
    if (r.ok) campo.value = '';
  });
  const grade = (lista: readonly Tecla[], classe: string) =>
    h('div', { class: classe },
      lista.map((k) => {
        const ic = ICONE_TECLA[k];
        const b = h('button', { type: 'button', class: 'tecla', id: 'tecla-' + k, 'aria-label': t(('tecla.' + k) as Chave) },
          ic ? icone(ic) : ROTULO_TECLA[k] ?? t(('tecla.' + k) as Chave));
        b.addEventListener('click', () => void comando(b, () => api.teclado({ tecla: k })));
        return b;
      }));
  return h('div', { class: 'aba-conteudo' },
    form,
    h('section', { class: 'cartao', 'aria-labelledby': 'tit-teclas' },
      h('h2', { id: 'tit-teclas' }, t('tec.teclas')), grade(TECLAS, 'teclas')),
    h('section', { class: 'cartao', 'aria-labelledby': 'tit-comandos' },
      h('h2', { id: 'tit-comandos' }, t('tec.comandos')), grade(COMBINACOES, 'combos')));
}

// ---------------------------------------------------------------- shortcuts

let atalhosEmVoo = false;
async function carregarAtalhos(): Promise<void> {
  if (atalhosEmVoo) return;
  atalhosEmVoo = true;
  const r = await api.atalhos();
  atalhosEmVoo = false;
  if (r.ok) {
    e.atalhos = r.dados;
    e.atalhosErro = '';
  } else {
    e.atalhosErro = tratarFalha(r, false) ?? '';
  }
  if (e.aba === 'atalhos') desenharAtalhos();
}

function desenharAtalhos(): void {
  const lista = document.getElementById('lista-atalhos');
  if (!lista) return;
  lista.replaceChildren();
  if (e.atalhosErro) {
    lista.append(h('p', { class: 'vazio' }, e.atalhosErro));
    return;
  }
  if (!e.atalhos) return;
  if (e.atalhos.itens.length === 0) {
    lista.append(h('p', { class: 'vazio' }, t('at.vazio')));
    return;
  }
  for (const a of e.atalhos.itens) {
    const tipo = a.tipo === 'programa' || a.tipo === 'site' || a.tipo === 'navegador' ? a.tipo : 'site';
    const nome = a.id === 'navegador' && a.comum ? t('tipo.navegador') : a.nome;
    const estado = h('small', null, t(('tipo.' + tipo) as Chave));
    const b = h('button', { type: 'button', class: 'atalho', 'data-id': a.id }, icone(tipo), h('span', { class: 'nome' }, nome), estado);
    b.addEventListener('click', async () => {
      if (b.classList.contains('abrindo')) return;
      b.classList.add('abrindo');
      estado.textContent = t('at.abrindo');
      vibrar();
      const r = await api.abrirAtalho(a.id);
      if (r.ok) estado.textContent = t('at.aberto');
      // "atalho_ocupado" is the PC's guard against double taps: nothing to tell.
      else if (r.erro !== 'atalho_ocupado') tratarFalha(r);
      statusEmBreve();
      setTimeout(() => {
        b.classList.remove('abrindo');
        estado.textContent = t(('tipo.' + tipo) as Chave);
      }, 1200);
    });
    lista.append(b);
  }
}

function abaAtalhos(): HTMLElement {
  queueMicrotask(() => {
    desenharAtalhos();
    const rev = e.status?.atalhosRevisao;
    if (!e.atalhos || (rev !== undefined && rev !== e.atalhos.revisao)) void carregarAtalhos();
  });
  return h('div', { class: 'aba-conteudo' }, h('div', { id: 'lista-atalhos', class: 'atalhos' }));
}

// ---------------------------------------------------------------- settings

function painelAjustes(): HTMLElement {
  const s = e.status;
  const sessao = armazem.sessao();
  const tema = h('select', { id: 'tema' },
    (['auto', 'claro', 'escuro'] as Tema[]).map((v) =>
      h('option', { value: v, selected: (armazem.texto('tema') ?? 'auto') === v },
        t(v === 'auto' ? 'aj.temaAuto' : v === 'claro' ? 'aj.temaClaro' : 'aj.temaEscuro'))));
  tema.addEventListener('change', () => {
    armazem.guardarTexto('tema', tema.value);
    aplicarTema();
  });
  const vib = h('input', { id: 'vibrar', type: 'checkbox', checked: armazem.texto('vibrar') !== 'nao' });
  vib.addEventListener('change', () => armazem.guardarTexto('vibrar', vib.checked ? 'sim' : 'nao'));
  const sens = h('input', { id: 'sensibilidade', type: 'range', min: 0.5, max: 3, step: 0.25, value: armazem.texto('sensibilidade') ?? '1.5' });
  sens.addEventListener('change', () => armazem.guardarTexto('sensibilidade', sens.value));

  const saida = h('div', { id: 'transferencia' });
  const gerar = h('button', { id: 'btn-transferir', type: 'button', class: 'secundario' }, icone('link'), h('span', null, t('aj.gerarLink')));
  gerar.addEventListener('click', () =>
    void comando(gerar, () => api.criarTransferencia(armazem.chave()), (d) => {
      const url = location.origin + '/panel/#transferir=' + d.ticket;
      const copiar = h('button', { type: 'button', class: 'secundario', id: 'btn-copiar-link' }, icone('copiar'), h('span', null, t('aj.copiar')));
      copiar.addEventListener('click', async () => {
        try {
          await navigator.clipboard.writeText(url);
          avisar(t('aj.copiado'));
        } catch {
          campo.select();
        }
      });
      const campo = h('input', { id: 'link-transferencia', type: 'text', readonly: true, value: url, 'aria-label': t('aj.instalado') });
      saida.replaceChildren(
        campo,
        h('div', { class: 'linha2' },
          h('a', { class: 'botao primario', id: 'abrir-link', href: url, target: '_blank', rel: 'noopener' }, t('aj.abrirLink')),
          copiar),
        h('p', { class: 'ajuda' }, t('aj.linkValido')));
    }));

  const desparear = h('button', { id: 'btn-desparear', type: 'button', class: 'perigo larga' }, t('aj.desparear'));
  desparear.addEventListener('click', async () => {
    if (!confirm(t('aj.despareaConfirma'))) return;
    const r = await comando(desparear, () => api.desparear());
    if (r.ok) voltarAoPareamento(t('parear.desfeitoAqui'), false);
  });

  const fechar = h('button', { type: 'button', class: 'icone-btn', id: 'btn-fechar-ajustes', 'aria-label': t('aj.fechar') }, icone('voltar'));
  fechar.addEventListener('click', () => {
    e.ajustesAbertos = false;
    montar();
  });
  return h('main', { class: 'tela-ajustes', id: 'ajustes' },
    h('header', { class: 'topo' }, fechar, h('h1', null, t('aj.titulo'))),
    h('div', { class: 'aba-conteudo' },
      h('section', { class: 'cartao' },
        h('label', { for: 'idioma-ajustes' }, t('aj.idioma')), seletorIdioma('idioma-ajustes'),
        h('label', { for: 'tema' }, t('aj.tema')), tema,
        h('div', { class: 'opcao' }, vib, h('label', { for: 'vibrar' }, t('aj.vibrar'))),
        h('label', { for: 'sensibilidade' }, t('tp.sensibilidade')), sens),
      h('section', { class: 'cartao', 'aria-labelledby': 'tit-instalado' },
        h('h2', { id: 'tit-instalado' }, t('aj.instalado')),
        h('p', { class: 'ajuda' }, t('aj.instaladoAjuda')), gerar, saida),
      h('section', { class: 'cartao', 'aria-labelledby': 'tit-sobre' },
        h('h2', { id: 'tit-sobre' }, t('aj.sobre')),
        h('dl', null,
          h('dt', null, 'PC'), h('dd', null, s?.nomePc ?? sessao?.nomePc ?? '—'),
          h('dt', null, t('aj.versaoPc')), h('dd', { class: 'mono' }, s?.versao ?? '—'),
          h('dt', null, t('aj.dispositivo')), h('dd', { id: 'dispositivo' }, (s?.dispositivo.nome ?? armazem.nome() ?? '') + ' · ',
            h('span', { class: 'mono' }, s?.dispositivo.id ?? sessao?.dispositivoId ?? '—')))),
      desparear));
}

// ---------------------------------------------------------------- frame

function painel(): HTMLElement {
  const sessao = armazem.sessao();
  const nomePc = h('button', { id: 'nome-pc', type: 'button', class: 'nome-pc', 'aria-label': t('topo.ajustes', e.status?.nomePc ?? sessao?.nomePc ?? 'PC') },
    h('span', { class: 'ponto', id: 'ponto' }), h('span', { id: 'nome-pc-texto' }, e.status?.nomePc ?? sessao?.nomePc ?? 'PC'), icone('ajustes', 'ic pequeno'));
  nomePc.addEventListener('click', () => {
    e.ajustesAbertos = true;
    montar();
  });
  const chipAgend = h('button', { id: 'chip-agendamento', type: 'button', class: 'chip-topo agend', hidden: true });
  chipAgend.addEventListener('click', () => {
    if (e.aba !== 'controle') trocarAba('controle');
    document.getElementById('agendamento')?.scrollIntoView({ behavior: 'smooth', block: 'center' });
  });
  const topo = h('header', { class: 'topo' },
    nomePc,
    h('div', { class: 'chips-topo' },
      h('span', { id: 'chip-conexao', class: 'chip-topo' }),
      h('span', { id: 'chip-pausado', class: 'chip-topo aviso', hidden: true }, t('topo.pausado')),
      h('span', { id: 'chip-simulacao', class: 'chip-topo info', hidden: true }, t('topo.simulacao')),
      chipAgend));
  const banner = h('div', { id: 'banner', class: 'banner', role: 'status', hidden: true });
  let conteudo: HTMLElement;
  switch (e.aba) {
    case 'touchpad': conteudo = abaTouchpad(); break;
    case 'teclado': conteudo = abaTeclado(); break;
    case 'atalhos': conteudo = abaAtalhos(); break;
    default: conteudo = abaControle();
  }
  const abas: [Aba, string][] = [['controle', 'controle'], ['touchpad', 'touchpad'], ['teclado', 'teclado'], ['atalhos', 'atalhos']];
  const nav = h('nav', { class: 'abas', 'aria-label': 'Velorin' },
    abas.map(([a, ic]) => {
      const b = h('button', { type: 'button', id: 'aba-' + a, 'aria-current': e.aba === a ? 'page' : null }, icone(ic), h('span', null, t(('aba.' + a) as Chave)));
      b.addEventListener('click', () => trocarAba(a));
      return b;
    }));
  return h('div', { class: 'painel' + (e.aba === 'touchpad' ? ' com-touchpad' : '') },
    topo, banner, h('main', { id: 'conteudo', class: 'conteudo' }, conteudo), nav);
}

function trocarAba(a: Aba): void {
  vibrar();
  e.aba = a;
  montar();
  document.getElementById('aba-' + a)?.focus();
}

// Puts the last status into the screen that is already built.
function atualizarPainel(): void {
  if (e.tela !== 'painel' || e.ajustesAbertos) return;
  const s = e.status;
  const painelEl = document.querySelector('.painel');
  if (!painelEl) return;
  const offline = e.online === false;
  painelEl.classList.toggle('offline', offline);
  const ponto = document.getElementById('ponto')!;
  ponto.className = 'ponto ' + (e.online ? 'vivo' : 'morto');
  const conexao = document.getElementById('chip-conexao')!;
  conexao.textContent = e.online === null ? t('carregando') : e.online ? t('topo.conectado') : t('topo.offline');
  conexao.className = 'chip-topo ' + (offline ? 'erro' : 'so-leitor');
  if (s) document.getElementById('nome-pc-texto')!.textContent = s.nomePc;
  document.getElementById('chip-pausado')!.hidden = !s?.pausado;
  document.getElementById('chip-simulacao')!.hidden = !s?.simulacao;

  const banner = document.getElementById('banner')!;
  const textoBanner = offline ? t('aviso.offline') : e.aviso === 'pausado' ? t('aviso.pausado') : e.aviso === 'atualizando' ? t('aviso.atualizando') : '';
  banner.hidden = !textoBanner;
  banner.textContent = textoBanner;
  banner.className = 'banner' + (offline ? ' erro' : ' aviso');

  const chip = document.getElementById('chip-agendamento') as HTMLButtonElement;
  const a = s?.agendamento;
  chip.hidden = !a || !e.prazoAgendamento;
  if (a && e.prazoAgendamento) {
    chip.replaceChildren(icone('relogio', 'ic pequeno'), h('span', { class: 'mono' }, formatarContagem((e.prazoAgendamento - Date.now()) / 1000)));
    chip.setAttribute('aria-label', t(('agend.' + a.acao) as Chave) + ' ' + formatarContagem((e.prazoAgendamento - Date.now()) / 1000));
  }

  // Controls need a PC that answers and is not paused.
  const bloqueado = offline || !s || s.pausado || e.aviso === 'atualizando';
  for (const el of document.querySelectorAll<HTMLButtonElement | HTMLInputElement>('#conteudo button, #conteudo input')) {
    if (el.id === 'btn-cancelar-agendamento' || el.id === 'btn-dica') continue;
    el.disabled = bloqueado;
  }
  if (e.aba === 'controle') {
    const ag = document.getElementById('agendamento');
    if (ag) ag.replaceChildren(...[cartaoAgendamento()].filter((x): x is HTMLElement => !!x));
    const susp = document.getElementById('btn-suspender') as HTMLButtonElement | null;
    if (susp && s && !s.recursos.suspender) {
      susp.disabled = true;
      document.getElementById('suspender-indisp')!.hidden = false;
    }
    const v = s?.volume;
    const slider = document.getElementById('volume') as HTMLInputElement | null;
    const num = document.getElementById('volume-num');
    const mudo = document.getElementById('btn-mudo') as HTMLButtonElement | null;
    if (slider && num && mudo) {
      const disp = !!v && v.disponivel;
      document.getElementById('sem-audio')!.hidden = !s || disp;
      slider.disabled = bloqueado || !disp;
      mudo.disabled = bloqueado || !disp;
      if (v && v.disponivel) {
        if (!volumeArrastando && !envioVolume.ocupado) {
          slider.value = String(v.nivel);
          num.textContent = String(v.nivel);
        }
        mudo.setAttribute('aria-pressed', String(v.mudo));
        mudo.setAttribute('aria-label', v.mudo ? t('ctl.ativarSom') : t('ctl.silenciar'));
        mudo.replaceChildren(icone(v.mudo ? 'mudo' : 'som'));
        slider.classList.toggle('mudo', v.mudo);
      } else {
        num.textContent = '—';
        mudo.setAttribute('aria-label', t('ctl.silenciar'));
      }
      slider.setAttribute('aria-valuetext', v && v.disponivel ? `${v.nivel}%${v.mudo ? ' · ' + t('ctl.mudo') : ''}` : '—');
    }
    desenharSaidas(bloqueado);
    const et = document.getElementById('estado-tela');
    if (et) et.textContent = s?.tela.ligada === false ? t('tela.apagada') : s?.tela.ligada === true ? t('tela.acesa') : '';
  }
}

function desenharSaidas(bloqueado: boolean): void {
  const lista = document.getElementById('saidas');
  if (!lista) return;
  const s = e.status;
  const saidas = s?.audio.saidas ?? [];
  document.getElementById('tit-saidas')!.hidden = saidas.length === 0;
  const chave = JSON.stringify([saidas, bloqueado, s?.audio.podeTrocar]);
  if (lista.dataset.chave === chave) return;
  lista.dataset.chave = chave;
  lista.replaceChildren(...saidas.map((o) => {
    const b = h('button', { type: 'button', role: 'radio', class: 'saida', 'aria-checked': String(o.padrao), 'data-id': o.id },
      h('span', { class: 'marca-radio' }, o.padrao ? icone('check', 'ic pequeno') : null), h('span', null, o.nome));
    b.disabled = bloqueado || !s?.audio.podeTrocar;
    b.addEventListener('click', () => {
      if (o.padrao) return;
      void comando(b, () => api.saidaAudio(o.id), (d) => {
        if (e.status) {
          e.status.audio = d;
          atualizarPainel();
        }
      });
    });
    return b;
  }));
}

// ---------------------------------------------------------------- setup

function aplicarIdioma(i: Idioma): void {
  definirIdioma(i);
  document.documentElement.lang = i === 'pt' ? 'pt-BR' : i;
}

function aplicarTema(): void {
  const tema = armazem.texto('tema');
  const html = document.documentElement;
  if (tema === 'claro' || tema === 'escuro') html.dataset.tema = tema;
  else delete html.dataset.tema;
  const escuro = tema === 'escuro' || (tema !== 'claro' && matchMedia('(prefers-color-scheme: dark)').matches);
  document.querySelector('meta[name="theme-color"]')?.setAttribute('content', escuro ? '#15191F' : '#F5F7F8');
}

function montar(): void {
  let conteudo: HTMLElement;
  if (e.tela === 'pareamento') conteudo = telaPareamento();
  else if (e.ajustesAbertos) conteudo = painelAjustes();
  else conteudo = painel();
  raiz.replaceChildren(conteudo, h('div', { id: 'toast', class: 'toast', role: 'status', 'aria-live': 'polite' }));
  document.title = e.tela === 'pareamento' ? 'Velorin · ' + t('parear.titulo') : 'Velorin · ' + (e.status?.nomePc ?? armazem.sessao()?.nomePc ?? '');
  if (e.tela === 'painel') atualizarPainel();
  // First screen on the glass: the start-up budget is measured against this mark.
  if (!performance.getEntriesByName('painel-montado').length) performance.mark('painel-montado');
}

function lerEndereco(): void {
  const f = lerFragmento(location.hash);
  if (f.limpar) history.replaceState(null, '', location.pathname + location.search);
  if (f.local !== undefined) usarBase(baseDoLocal(f.local, location.host));
  if (f.codigo) e.codigoInicial = f.codigo;
  if (f.ticket) e.ticketInicial = f.ticket;

  const sessao = armazem.sessao();
  if (f.ticket || f.codigo || !sessao) {
    clearTimeout(statusRelogio);
    e.tela = 'pareamento';
    e.ajustesAbertos = false;
    if (f.nuvem) e.msgPareamento = { texto: t('parear.nuvem'), erro: false };
    montar();
  } else if (e.tela !== 'painel') {
    if (sessao.base !== api.base) usarBase(sessao.base);
    entrarNoPainel();
  }
}

function iniciar(): void {
  document.body.insertAdjacentHTML('afterbegin', spriteSvg());
  const pref = armazem.texto('idioma');
  aplicarIdioma(pref === 'pt' || pref === 'en' || pref === 'es' ? pref : idiomaDoNavegador(navigator.languages ?? [navigator.language]));
  aplicarTema();
  matchMedia('(prefers-color-scheme: dark)').addEventListener?.('change', aplicarTema);

  lerEndereco();
  // Scanning the PC's QR code again while this tab is open changes only the
  // fragment: the page is not reloaded, so the new code is taken from here.
  addEventListener('hashchange', () => {
    if (location.hash) lerEndereco();
  });

  document.addEventListener('visibilitychange', () => {
    if (document.hidden) clearTimeout(statusRelogio);
    else void lerStatus();
  });
  addEventListener('online', () => void lerStatus());
  addEventListener('focus', () => {
    if (!statusEmVoo) void lerStatus();
  });
  // The countdowns tick on the phone between status reads.
  setInterval(() => {
    if (e.tela !== 'painel' || !e.prazoAgendamento) return;
    const seg = (e.prazoAgendamento - Date.now()) / 1000;
    const txt = formatarContagem(seg);
    const c = document.getElementById('contagem');
    if (c) c.textContent = txt;
    const chip = document.querySelector('#chip-agendamento .mono');
    if (chip) chip.textContent = txt;
  }, 1000);

  if ('serviceWorker' in navigator && location.protocol !== 'file:') registrarOffline(0);
}

// The offline copy is installed in the background; an install that failed
// (the PC out of reach for a moment) is tried again a few times, later.
function registrarOffline(falhas: number): void {
  navigator.serviceWorker
    .register('/sw.js', { scope: '/' })
    .then((reg) => {
      const novo = reg.installing;
      novo?.addEventListener('statechange', () => {
        if (novo.state === 'redundant' && !reg.active && falhas < 3) {
          setTimeout(() => registrarOffline(falhas + 1), 5000 * (falhas + 1));
        }
      });
    })
    .catch(() => undefined);
}

iniciar();
