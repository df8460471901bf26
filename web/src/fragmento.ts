// Links that open the panel carry their data in the fragment, so it never
// reaches a server log: "#parear=123456" from the PC's QR code,
// "#local[=addr][&parear=123456]" when the panel should talk to a PC on the
// local network, "#transferir=<ticket>" for the hand-over to an installed copy,
// and "#entrar=" / "#pc=" for the internet features, which this panel does not
// offer (they are recognised only so they can be dropped quietly).

export interface Fragmento {
  codigo?: string;
  // Present for "#local"; empty text means "this page's own PC".
  local?: string;
  ticket?: string;
  // The fragment carried something that should not stay in the address bar.
  limpar: boolean;
  // "#entrar=" or "#pc=": internet features, not available here.
  nuvem?: boolean;
}

const TOKEN = /^[A-Za-z0-9_-]{43}$/;

// Code as the user typed or pasted it: digits with spaces anywhere ("123 456")
// are accepted; anything else, or a wrong count of digits, gives null.
export function normalizarCodigo(texto: string): string | null {
  const s = texto.replace(/[\s\u00a0]+/g, '');
  return /^\d{6}$/.test(s) ? s : null;
}

// Host or host:port of a PC on the local network; no scheme, path or user part.
export function enderecoLocalValido(s: string): boolean {
  const m = /^([A-Za-z0-9.-]{1,253})(?::(\d{1,5}))?$/.exec(s);
  if (!m) return false;
  if (m[2] !== undefined) {
    const p = Number(m[2]);
    if (p < 1 || p > 65535) return false;
  }
  return !m[1].startsWith('.') && !m[1].startsWith('-');
}

function decodificar(v: string): string {
  try {
    return decodeURIComponent(v);
  } catch {
    return v;
  }
}

export function lerFragmento(hash: string): Fragmento {
  const f: Fragmento = { limpar: false };
  const h = hash.startsWith('#') ? hash.slice(1) : hash;
  if (!h) return f;
  for (const parte of h.split('&')) {
    const i = parte.indexOf('=');
    const nome = i < 0 ? parte : parte.slice(0, i);
    const valor = i < 0 ? '' : decodificar(parte.slice(i + 1));
    switch (nome) {
      case 'parear':
        f.limpar = true;
        // Exactly six digits; a damaged code is dropped rather than pre-filled.
        if (/^\d{6}$/.test(valor)) f.codigo = valor;
        break;
      case 'local':
        f.limpar = f.limpar || valor !== '';
        if (valor === '' || enderecoLocalValido(valor)) f.local = valor;
        break;
      case 'transferir':
        f.limpar = true;
        if (TOKEN.test(valor)) f.ticket = valor;
        break;
      case 'entrar':
      case 'pc':
        f.limpar = true;
        f.nuvem = true;
        break;
    }
  }
  return f;
}

// Base URL for API calls: empty (same origin) unless "#local=" names a PC other
// than the one that served this page.
export function baseDoLocal(local: string | undefined, hostDaPagina: string): string {
  if (!local) return '';
  if (local.toLowerCase() === hostDaPagina.toLowerCase()) return '';
  return 'http://' + local;
}

// Ticket from whatever the user pasted: the whole hand-over link or the bare ticket.
export function ticketDeTexto(texto: string): string | null {
  const t = texto.trim();
  if (TOKEN.test(t)) return t;
  const i = t.indexOf('#');
  if (i >= 0) return lerFragmento(t.slice(i)).ticket ?? null;
  return null;
}
