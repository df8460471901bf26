#!/usr/bin/env node
// A stand-in for the PC program, for driving the panel in a browser before the
// real one exists. It takes the same command line as the real program in
// simulation mode ("--simular --terminal --dados DIR --porta N [--web DIR]"),
// prints the pairing link the same way, writes the same "SIMULADO: " lines to
// DIR/log.txt, and answers the API routes with the same bodies and codes.
// A second copy started with the same --dados asks the first one to open a new
// pairing session and exits, as the real program's second copy does.
//
// Extra routes under "/__falso/" let tests set states that the real program
// only reaches through its tray menu (pause, update in progress, catalog edit).
import { createHash, randomBytes, randomInt } from 'node:crypto';
import { appendFileSync, existsSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createServer, request } from 'node:http';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const args = process.argv.slice(2);
const opcao = (n, padrao) => {
  const i = args.indexOf(n);
  return i >= 0 && i + 1 < args.length ? args[i + 1] : padrao;
};
const dados = resolve(opcao('--dados', join(process.cwd(), 'velorin-falso')));
const porta = Number(opcao('--porta', '8765'));
const web = resolve(opcao('--web', join(dirname(fileURLToPath(import.meta.url)), '..', 'dist')));
const simular = args.includes('--simular');
mkdirSync(dados, { recursive: true });
const arquivoInstancia = join(dados, '.instancia-falsa');

// ------------------------------------------------------------ second copy
if (existsSync(arquivoInstancia)) {
  const p = Number(readFileSync(arquivoInstancia, 'utf8'));
  const ok = await new Promise((res) => {
    const r = request({ host: '127.0.0.1', port: p, path: '/__falso/mostrar', method: 'POST' }, (resp) => {
      resp.resume();
      res(resp.statusCode === 204);
    });
    r.on('error', () => res(false));
    r.end();
  });
  if (ok) process.exit(0);
  // The first copy is gone (crashed): carry on as the only one.
}

// ------------------------------------------------------------ log
const dd = (n, w = 2) => String(n).padStart(w, '0');
function log(msg) {
  const d = new Date();
  const linha = `${d.getFullYear()}-${dd(d.getMonth() + 1)}-${dd(d.getDate())} ${dd(d.getHours())}:${dd(d.getMinutes())}:${dd(d.getSeconds())}.${dd(d.getMilliseconds(), 3)}  ${msg}\n`;
  appendFileSync(join(dados, 'log.txt'), linha);
}

// ------------------------------------------------------------ state
const sha = (s) => createHash('sha256').update(s).digest('hex');
const novoToken = () => randomBytes(32).toString('base64url');
const tokenValido = (s) => typeof s === 'string' && /^[A-Za-z0-9_-]{43}$/.test(s);
const agora = () => Date.now();
const CARENCIA = 10;

const est = {
  dispositivos: [],
  sessao: null,
  pausado: false,
  atualizando: false,
  volume: { nivel: 50, mudo: false },
  padrao: 'sim-caixa',
  tela: 1,
  agendamento: null,
  transferencias: [],
  atalhos: {
    revisao: 1,
    itens: [
      { id: 'navegador', nome: 'Navegador', tipo: 'navegador', comum: true },
      { id: 'youtube', nome: 'YouTube', tipo: 'site', comum: true },
      { id: 'netflix', nome: 'Netflix', tipo: 'site', comum: true },
      { id: 'hbomax', nome: 'HBO Max', tipo: 'site', comum: true },
    ],
  },
  ultimoAtalho: 0,
  limites: new Map(),
};
const SAIDAS = [
  ['sim-caixa', 'Alto-falantes (simulado)'],
  ['sim-fone', 'Fone Bluetooth (simulado)'],
  ['sim-hdmi', 'TV HDMI (simulado)'],
];

function abrirSessao() {
  est.sessao = { codigo: String(randomInt(0, 1000000)).padStart(6, '0'), expira: agora() + 300000, tentativas: 5, codigos: 1 };
  mostrarCodigo();
}
function mostrarCodigo() {
  const c = est.sessao.codigo;
  process.stdout.write(`Parear celular: http://127.0.0.1:${porta}/#parear=${c}\nCódigo: ${c.slice(0, 3)} ${c.slice(3)}\n`);
}

// Failure counter per client address (pairing, token, transfer), as the PC's limiters do.
function limite(nome, ip) {
  const k = nome + ip;
  const e = est.limites.get(k);
  if (e && e.bloqueio > agora()) return Math.ceil((e.bloqueio - agora()) / 1000);
  return 0;
}
function falha(nome, ip, max) {
  const k = nome + ip;
  const e = est.limites.get(k) ?? { n: 0, bloqueio: 0 };
  e.n++;
  if (e.n >= max) {
    e.bloqueio = agora() + 600000;
    e.n = 0;
  }
  est.limites.set(k, e);
}

function statusObj(dev) {
  const a = est.agendamento;
  return {
    nomePc: 'PC-TESTE',
    versao: '1.0.7',
    pausado: est.pausado,
    simulacao: simular,
    atalhosRevisao: est.atalhos.revisao,
    recursos: { suspender: true, entrada: true, entradaInternet: false, tela: true, saidaAudio: true, atalhos: true },
    audio: saidas(),
    tela: { ligada: est.tela === 1 ? true : est.tela === 0 ? false : null },
    volume: { disponivel: true, nivel: est.volume.nivel, mudo: est.volume.mudo },
    agendamento: a ? agObj(a) : null,
    dispositivo: { id: dev.id, nome: dev.nome },
  };
}
const saidas = () => ({ podeTrocar: true, saidas: SAIDAS.map(([id, nome]) => ({ id, nome, padrao: id === est.padrao })) });
const agObj = (a) => ({ acao: a.acao, segundosRestantes: Math.max(0, Math.ceil((a.quando - agora()) / 1000)), pedidoPor: a.pedidoPor, forcar: a.forcar });

// ------------------------------------------------------------ HTTP helpers
const ERROS = {
  host_invalido: [421, 'Endereço não reconhecido por este PC.'],
  origem_invalida: [403, 'Origem não permitida.'],
  metodo_nao_permitido: [405, 'Método não permitido.'],
  tipo_invalido: [415, 'Envie JSON (Content-Type: application/json).'],
  nao_encontrado: [404, 'Não encontrado.'],
  nao_autorizado: [401, 'Este celular não está pareado com o PC.'],
  limite: [429, 'Muitas tentativas. Aguarde alguns minutos.'],
  pausado: [503, 'O controle remoto está pausado no PC.'],
  requisicao_invalida: [400, 'Requisição inválida.'],
  pareamento_fechado: [410, 'Abra "Parear celular" no PC para gerar um código.'],
  codigo_invalido: [403, 'Código incorreto ou expirado.'],
  transferencia_expirada: [410, 'Abra a instalacao novamente pelo painel do PC.'],
  atualizando: [503, 'O app está sendo atualizado. Tente novamente em alguns segundos.'],
  atalho_nao_encontrado: [404, 'Nao foi possivel abrir o atalho no PC.'],
  atalho_ocupado: [409, 'Nao foi possivel abrir o atalho no PC.'],
};
class Resposta {
  constructor(res) {
    this.res = res;
    this.cab = {
      'X-Content-Type-Options': 'nosniff',
      'Referrer-Policy': 'no-referrer',
      'X-Frame-Options': 'DENY',
      'Content-Security-Policy': "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; connect-src 'self'; manifest-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'; object-src 'none'",
      Connection: 'close',
    };
  }
  json(status, obj) {
    this.fim(status, 'application/json; charset=utf-8', Buffer.from(JSON.stringify(obj)));
  }
  erro(codigo, extra) {
    const [st, msg] = ERROS[codigo];
    this.json(st, { erro: codigo, mensagem: extra ?? msg });
  }
  vazio(status) {
    this.fim(status, null, Buffer.alloc(0));
  }
  fim(status, tipo, corpo) {
    if (tipo) this.cab['Content-Type'] = tipo;
    this.cab['Content-Length'] = corpo.length;
    this.res.writeHead(status, this.cab);
    this.res.end(corpo);
  }
}

const PAINEL = [
  ['/', 'index.html', 'text/html; charset=utf-8', true],
  ['/index.html', 'index.html', 'text/html; charset=utf-8', true],
  ['/app.js', 'app.js', 'text/javascript; charset=utf-8', true],
  ['/app.css', 'app.css', 'text/css; charset=utf-8', true],
  ['/fontes-OFL.txt', 'fontes-OFL.txt', 'text/plain; charset=utf-8', true],
  ['/manrope.woff2', 'manrope.woff2', 'font/woff2', true],
  ['/ibm-plex-mono.woff2', 'ibm-plex-mono.woff2', 'font/woff2', true],
  ['/sw.js', 'sw.js', 'text/javascript; charset=utf-8', true],
  ['/manifest.webmanifest', 'manifest.webmanifest', 'application/manifest+json', true],
  ['/icone-32.png', 'icone-32.png', 'image/png', false],
  ['/icone-180.png', 'icone-180.png', 'image/png', false],
  ['/icone-192.png', 'icone-192.png', 'image/png', false],
  ['/icone-512.png', 'icone-512.png', 'image/png', false],
];
const ALIAS = new Set(['/panel', '/panel/', '/panel/index.html', '/painel', '/painel/', '/painel/index.html']);

function servirPainel(req, r, caminho) {
  if (req.method !== 'GET') return r.fim(405, 'text/plain; charset=utf-8', Buffer.from('Método não permitido.'));
  const p = ALIAS.has(caminho) ? '/index.html' : caminho;
  const e = PAINEL.find((x) => x[0] === p);
  if (e && existsSync(join(web, e[1]))) {
    r.cab['Cache-Control'] = e[3] ? 'no-cache' : 'public, max-age=86400';
    return r.fim(200, e[2], readFileSync(join(web, e[1])));
  }
  r.fim(404, 'text/plain; charset=utf-8', Buffer.from('Não encontrado.'));
}

function hostPermitido(v) {
  const s = (v ?? '').trim().toLowerCase();
  if (!s || s.startsWith('[')) return false;
  const [host, p] = s.split(/:(.*)/s);
  if (p !== undefined && !/^\d{1,5}$/.test(p)) return false;
  return /^\d{1,3}(\.\d{1,3}){3}$/.test(host) || host === 'localhost';
}

// ------------------------------------------------------------ routes
const ROTAS = {
  '/api/ping': ['GET'],
  '/api/parear': ['POST', 'DELETE'],
  '/api/status': ['GET'],
  '/api/transferencia': ['POST'],
  '/api/transferencia/consumir': ['POST'],
  '/api/atalhos': ['GET'],
  '/api/atalhos/abrir': ['POST'],
  '/api/energia': ['POST'],
  '/api/energia/cancelar': ['POST'],
  '/api/tela': ['POST'],
  '/api/audio/saida': ['PUT'],
  '/api/volume': ['PUT'],
  '/api/midia': ['POST'],
  '/api/mouse': ['POST'],
  '/api/teclado': ['POST'],
};
const SEM_AUTH = new Set(['/api/ping', '/api/transferencia/consumir']);
const TECLAS = new Set(['enter', 'tab', 'backspace', 'delete', 'escape', 'esquerda', 'direita', 'cima', 'baixo', 'home', 'end', 'pageUp', 'pageDown', 'espaco', 'f5', 'alternarJanela', 'mostrarDesktop', 'copiar', 'colar', 'recortar', 'selecionarTudo', 'desfazer', 'refazer']);
const inteiro = (v, min, max) => typeof v === 'number' && Number.isInteger(v) && v >= min && v <= max;
const presente = (o, k) => o[k] !== undefined && o[k] !== null;

function api(req, r, caminho, corpoTxt, ip) {
  r.cab['Cache-Control'] = 'no-store';
  if ((req.method === 'POST' || req.method === 'PUT') && !(req.headers['content-type'] ?? '').toLowerCase().startsWith('application/json')) return r.erro('tipo_invalido');
  const rota = ROTAS[caminho];
  if (!rota) return r.erro('nao_encontrado');
  if (!rota.includes(req.method)) return r.erro('metodo_nao_permitido');
  if (caminho === '/api/parear' && est.pausado) return r.erro('pausado');
  let dev = null;
  const precisaAuth = !SEM_AUTH.has(caminho) && !(caminho === '/api/parear' && req.method === 'POST');
  const auth = req.headers.authorization ?? '';
  const token = auth.slice(0, 7).toLowerCase() === 'bearer ' ? auth.slice(7).trim() : '';
  if (precisaAuth) {
    const bloq = limite('token', ip);
    if (bloq) {
      r.cab['Retry-After'] = String(bloq);
      return r.erro('limite');
    }
    dev = token ? est.dispositivos.find((d) => d.tokenHash === sha(token)) : null;
    if (!dev) {
      falha('token', ip, 20);
      return r.erro('nao_autorizado');
    }
  }
  let corpo = {};
  if (req.method === 'POST' || req.method === 'PUT') {
    try {
      corpo = JSON.parse(corpoTxt);
    } catch {
      return r.erro('requisicao_invalida');
    }
    if (!corpo || typeof corpo !== 'object' || Array.isArray(corpo)) return r.erro('requisicao_invalida');
  }
  const invalido = () => r.erro('requisicao_invalida');
  switch (caminho) {
    case '/api/ping':
      return r.json(200, { app: 'Velorin', versao: '1.0.7' });
    case '/api/parear': {
      if (req.method === 'DELETE') {
        est.dispositivos = est.dispositivos.filter((d) => d !== dev);
        log(`Dispositivo removido: ${dev.nome} (${dev.id})`);
        return r.vazio(204);
      }
      const bloq = limite('parear', ip);
      if (bloq) {
        r.cab['Retry-After'] = String(bloq);
        return r.erro('limite');
      }
      if ('substituirMesmoNome' in corpo && typeof corpo.substituirMesmoNome !== 'boolean') return invalido();
      if (typeof corpo.codigo !== 'string') return invalido();
      for (const k of ['nomeDispositivo', 'chaveDispositivo', 'tokenAnterior']) if (presente(corpo, k) && typeof corpo[k] !== 'string') return invalido();
      if (corpo.chaveDispositivo && !tokenValido(corpo.chaveDispositivo)) return invalido();
      if (corpo.tokenAnterior && !tokenValido(corpo.tokenAnterior)) return invalido();
      const codigo = corpo.codigo.trim().replace(/ /g, '');
      const s = est.sessao;
      if (!s) return r.erro('pareamento_fechado');
      if (s.expira <= agora() || codigo !== s.codigo) {
        falha('parear', ip, 10);
        if (--s.tentativas <= 0) {
          if (s.codigos >= 3) est.sessao = null;
          else {
            s.codigo = String(randomInt(0, 1000000)).padStart(6, '0');
            s.tentativas = 5;
            s.codigos++;
            s.expira = agora() + 300000;
            mostrarCodigo();
          }
        }
        return r.erro('codigo_invalido');
      }
      let nome = String(corpo.nomeDispositivo ?? '').replace(/[\u0000-\u001f\u007f-\u009f\u2028\u2029]/g, '').trim();
      nome = [...nome].slice(0, 40).join('').trim() || 'Celular';
      const ch = tokenValido(corpo.chaveDispositivo) ? sha(corpo.chaveDispositivo) : '';
      const ant = tokenValido(corpo.tokenAnterior) ? sha(corpo.tokenAnterior) : '';
      let d = est.dispositivos.find((x) => (ch && x.chaveHash === ch) || (ant && x.tokenHash === ant));
      if (!d && corpo.substituirMesmoNome) d = est.dispositivos.find((x) => x.nome === nome);
      if (!d) {
        d = { id: randomBytes(4).toString('hex'), chaveHash: '' };
        est.dispositivos.push(d);
      }
      est.dispositivos = est.dispositivos.filter((x) => x === d || !((ch && x.chaveHash === ch) || (ant && x.tokenHash === ant) || (corpo.substituirMesmoNome && x.nome === nome)));
      const tk = novoToken();
      Object.assign(d, { nome, tokenHash: sha(tk) });
      if (ch) d.chaveHash = ch;
      est.sessao = null;
      log(`Pareado: ${nome} (${d.id}) de ${ip}`);
      return r.json(200, { token: tk, dispositivoId: d.id, nomePc: 'PC-TESTE' });
    }
    case '/api/status':
      return r.json(200, statusObj(dev));
    case '/api/transferencia': {
      if (presente(corpo, 'chaveDispositivo') && typeof corpo.chaveDispositivo !== 'string') return invalido();
      if (corpo.chaveDispositivo && !tokenValido(corpo.chaveDispositivo)) return invalido();
      const ticket = novoToken();
      const chave = tokenValido(corpo.chaveDispositivo) && sha(corpo.chaveDispositivo) === dev.chaveHash ? corpo.chaveDispositivo : '';
      est.transferencias.push({ hash: sha(ticket), token, chave, ip, expira: agora() + 120000 });
      log(`Transferencia criada: ${dev.nome} (${dev.id}) de ${ip}, identidade ${chave ? 'incluida' : 'ausente'}`);
      return r.json(200, { ticket });
    }
    case '/api/transferencia/consumir': {
      const bloq = limite('transf', ip);
      if (bloq) {
        r.cab['Retry-After'] = String(bloq);
        return r.erro('limite');
      }
      if (!tokenValido(corpo.ticket)) return invalido();
      if (presente(corpo, 'tokenAtual') && (typeof corpo.tokenAtual !== 'string' || (corpo.tokenAtual && !tokenValido(corpo.tokenAtual)))) return invalido();
      const i = est.transferencias.findIndex((x) => x.hash === sha(corpo.ticket) && x.expira > agora());
      const tr = i >= 0 ? est.transferencias[i] : null;
      const d = tr && tr.ip === ip ? est.dispositivos.find((x) => x.tokenHash === sha(tr.token)) : null;
      if (tr && tr.ip === ip) est.transferencias.splice(i, 1);
      if (!d) {
        falha('transf', ip, 10);
        return r.erro('transferencia_expirada');
      }
      if (corpo.tokenAtual) {
        const h = sha(corpo.tokenAtual);
        est.dispositivos = est.dispositivos.filter((x) => x === d || x.tokenHash !== h);
      }
      log(`Transferencia usada: ${d.nome} (${d.id}) de ${ip}`);
      return r.json(200, { token: tr.token, nomePc: 'PC-TESTE', nomeDispositivo: d.nome, chaveDispositivo: tr.chave });
    }
    case '/api/atalhos':
      return r.json(200, est.atalhos);
    case '/api/energia/cancelar': {
      const havia = !!est.agendamento;
      est.agendamento = null;
      if (havia) log('Cancelado');
      return r.json(200, { cancelado: havia });
    }
  }
  // Command executor rules.
  if (est.atualizando) return r.erro('atualizando');
  if (est.pausado) return r.erro('pausado');
  switch (caminho) {
    case '/api/energia': {
      const acao = corpo.acao;
      if (typeof acao !== 'string') return invalido();
      if (presente(corpo, 'atrasoSegundos') && !inteiro(corpo.atrasoSegundos, 0, 86400)) return invalido();
      if (presente(corpo, 'forcar') && typeof corpo.forcar !== 'boolean') return invalido();
      if (acao === 'bloquear') {
        log(`Bloquear pedido por ${dev.nome}`);
        log('SIMULADO: bloquear');
        return r.vazio(204);
      }
      if (!['desligar', 'reiniciar', 'suspender'].includes(acao)) return invalido();
      const seg = Math.min(86400, Math.max(CARENCIA, corpo.atrasoSegundos ?? 0));
      est.agendamento = { acao, quando: agora() + seg * 1000, pedidoPor: dev.nome, forcar: !!corpo.forcar };
      log(`Agendado: ${acao} em ${seg} s (forcar=${corpo.forcar ? 'True' : 'False'}) por ${dev.nome}`);
      return r.json(202, { agendamento: agObj(est.agendamento) });
    }
    case '/api/volume': {
      const temN = presente(corpo, 'nivel');
      const temM = presente(corpo, 'mudo');
      if ((!temN && !temM) || (temN && !inteiro(corpo.nivel, 0, 100)) || (temM && typeof corpo.mudo !== 'boolean')) return invalido();
      if (temN) est.volume.nivel = corpo.nivel;
      if (temM) est.volume.mudo = corpo.mudo;
      return r.json(200, { ...est.volume });
    }
    case '/api/tela': {
      if (corpo.acao !== 'apagar' && corpo.acao !== 'acender') return invalido();
      est.tela = corpo.acao === 'apagar' ? 0 : 1;
      log(`SIMULADO: tela (ligada=${est.tela ? 'True' : 'False'})`);
      return r.json(202, { solicitado: corpo.acao });
    }
    case '/api/audio/saida': {
      if (typeof corpo.id !== 'string' || !corpo.id) return invalido();
      if (!SAIDAS.some(([id]) => id === corpo.id)) return r.json(409, { erro: 'saida_audio_ausente', mensagem: 'A saida foi desconectada.' });
      est.padrao = corpo.id;
      log('SIMULADO: trocar saida de audio');
      return r.json(200, saidas());
    }
    case '/api/midia': {
      const k = { tocarPausar: 'B3', proxima: 'B0', anterior: 'B1' }[corpo.acao];
      if (!k) return invalido();
      log(`SIMULADO: tecla de midia $${k}`);
      return r.vazio(204);
    }
    case '/api/mouse': {
      const a = corpo.acao;
      if (a === 'mover') {
        if (!inteiro(corpo.x, -2000, 2000) || !inteiro(corpo.y, -2000, 2000)) return invalido();
      } else if (a === 'rolar') {
        if (!inteiro(corpo.passos, -10, 10) || corpo.passos === 0) return invalido();
      } else if (!['clique', 'direito', 'duplo'].includes(a)) return invalido();
      log(`SIMULADO: mouse ${a} x=${a === 'mover' ? corpo.x : 0} y=${a === 'mover' ? corpo.y : 0} passos=${a === 'rolar' ? corpo.passos : 0}`);
      return r.vazio(204);
    }
    case '/api/teclado': {
      const tx = presente(corpo, 'texto');
      const tc = presente(corpo, 'tecla');
      if (tx === tc) return invalido();
      if (tx) {
        if (typeof corpo.texto !== 'string' || corpo.texto.length < 1 || corpo.texto.length > 512 || /[\u0000-\u0008\u000b\u000c\u000e-\u001f\u007f]/.test(corpo.texto)) return invalido();
        log(`SIMULADO: texto (${corpo.texto.length} unidades UTF-16)`);
      } else {
        if (!TECLAS.has(corpo.tecla)) return invalido();
        log(`SIMULADO: tecla ${corpo.tecla}`);
      }
      return r.vazio(204);
    }
    case '/api/atalhos/abrir': {
      if (Object.keys(corpo).length !== 1 || typeof corpo.id !== 'string' || !corpo.id || corpo.id.length > 24) return invalido();
      if (!est.atalhos.itens.some((x) => x.id === corpo.id)) return r.erro('atalho_nao_encontrado');
      if (agora() - est.ultimoAtalho < 700) return r.erro('atalho_ocupado');
      est.ultimoAtalho = agora();
      log(`SIMULAR abrir atalho id=${corpo.id}`);
      return r.json(202, { solicitado: corpo.id });
    }
  }
  return r.erro('nao_encontrado');
}

// Test controls of this stand-in only.
function controle(req, r, caminho, corpoTxt) {
  const corpo = corpoTxt ? JSON.parse(corpoTxt) : {};
  switch (caminho) {
    case '/__falso/mostrar':
      if (!est.sessao) abrirSessao();
      else mostrarCodigo();
      return r.vazio(204);
    case '/__falso/estado':
      if ('pausado' in corpo) est.pausado = !!corpo.pausado;
      if ('atualizando' in corpo) est.atualizando = !!corpo.atualizando;
      if ('atalhos' in corpo) est.atalhos = { revisao: est.atalhos.revisao + 1, itens: corpo.atalhos };
      return r.json(200, { dispositivos: est.dispositivos.map((d) => ({ id: d.id, nome: d.nome })) });
  }
  r.erro('nao_encontrado');
}

const servidor = createServer((req, res) => {
  const partes = [];
  req.on('data', (c) => partes.push(c));
  req.on('end', () => {
    const r = new Resposta(res);
    try {
      const caminho = (req.url ?? '/').split('?')[0];
      const ip = (req.socket.remoteAddress ?? '').replace(/^::ffff:/, '');
      const corpo = Buffer.concat(partes).toString('utf8');
      if (!hostPermitido(req.headers.host)) return r.erro('host_invalido');
      const origem = req.headers.origin;
      if (origem !== undefined && origem.toLowerCase() !== 'http://' + String(req.headers.host).toLowerCase()) return r.erro('origem_invalida');
      if (caminho.startsWith('/__falso/')) return controle(req, r, caminho, corpo);
      if (caminho.startsWith('/api/')) return api(req, r, caminho, corpo, ip);
      servirPainel(req, r, caminho);
    } catch (e) {
      log('ERRO ' + e.message);
      r.json(500, { erro: 'erro_interno', mensagem: 'Erro inesperado no PC.' });
    }
  });
});

servidor.listen(porta, '127.0.0.1', () => {
  writeFileSync(arquivoInstancia, String(servidor.address().port));
  log(`Servidor na porta ${servidor.address().port}`);
  if (simular) process.stdout.write('Modo de simulacao\n');
  abrirSessao();
});
const sair = () => {
  rmSync(arquivoInstancia, { force: true });
  servidor.close();
  servidor.closeAllConnections?.();
  process.exit(0);
};
process.on('SIGINT', sair);
process.on('SIGTERM', sair);
