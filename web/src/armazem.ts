// What the phone remembers between visits, in local storage. The token is the
// phone's credential for this PC; the identity key outlives it so that pairing
// again (after an unpair, a lost token, a new code) updates the PC's existing
// record instead of adding a duplicate.

export interface Memoria {
  getItem(k: string): string | null;
  setItem(k: string, v: string): void;
  removeItem(k: string): void;
}

const PREFIXO = 'velorin.';

export interface Sessao {
  token: string;
  dispositivoId: string;
  nomePc: string;
  // API base this session belongs to (empty: the page's own origin).
  base: string;
}

export type Tema = 'auto' | 'claro' | 'escuro';

// 32 random bytes as 43 base64url characters without padding: the same form
// as the PC's own tokens, which is what it accepts for an identity key.
export function novaChave(aleatorio: (b: Uint8Array<ArrayBuffer>) => Uint8Array = (b) => crypto.getRandomValues(b)): string {
  const b = aleatorio(new Uint8Array(32));
  let bin = '';
  for (const x of b) bin += String.fromCharCode(x);
  return btoa(bin).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

export function chaveValida(s: string | null | undefined): s is string {
  return typeof s === 'string' && /^[A-Za-z0-9_-]{43}$/.test(s);
}

// A readable default name from what the browser tells about itself; the PC
// cleans and cuts it to 40 characters anyway.
export function nomePadrao(ua: string, plataforma = ''): string {
  let so = '';
  if (/iPhone/.test(ua)) so = 'iPhone';
  else if (/iPad/.test(ua) || (/Macintosh/.test(ua) && /Mobile/.test(ua))) so = 'iPad';
  else if (/Android/.test(ua)) {
    // "Android 14; Pixel 8" in the UA when the browser still reports a model.
    const m = /Android[^;)]*;\s*([^;)]+?)(?:\s+Build\/[^;)]*)?[;)]/.exec(ua);
    const modelo = m ? m[1].trim() : '';
    // "K" is the frozen placeholder of reduced UAs; Firefox puts "Mobile" there.
    so = modelo && !/^(K|wv|Mobile|Tablet)$/i.test(modelo) ? modelo : 'Android';
  } else if (/Windows/.test(ua) || /Win/.test(plataforma)) so = 'Windows';
  else if (/Mac OS X|Macintosh/.test(ua)) so = 'Mac';
  else if (/Linux/.test(ua)) so = 'Linux';
  let nav = '';
  if (/EdgA?\//.test(ua)) nav = 'Edge';
  else if (/SamsungBrowser\//.test(ua)) nav = 'Samsung Internet';
  else if (/OPR\//.test(ua)) nav = 'Opera';
  else if (/Firefox\/|FxiOS\//.test(ua)) nav = 'Firefox';
  else if (/CriOS\/|Chrome\//.test(ua)) nav = 'Chrome';
  else if (/Safari\//.test(ua)) nav = 'Safari';
  const nome = [so, nav].filter(Boolean).join(' · ');
  return (nome || 'Celular').slice(0, 40);
}

export class Armazem {
  constructor(private readonly m: Memoria) {}

  private ler(k: string): string | null {
    try {
      return this.m.getItem(PREFIXO + k);
    } catch {
      return null;
    }
  }

  private gravar(k: string, v: string | null): void {
    try {
      if (v === null) this.m.removeItem(PREFIXO + k);
      else this.m.setItem(PREFIXO + k, v);
    } catch {
      // Private browsing with storage disabled: the session lasts as long as the page.
    }
  }

  // The identity key, created on first use and then kept for good.
  chave(): string {
    const c = this.ler('chave');
    if (chaveValida(c)) return c;
    const nova = novaChave();
    this.gravar('chave', nova);
    return nova;
  }

  trocarChave(c: string): void {
    if (chaveValida(c)) this.gravar('chave', c);
  }

  sessao(): Sessao | null {
    const s = this.ler('sessao');
    if (!s) return null;
    try {
      const o = JSON.parse(s) as Sessao;
      return chaveValida(o.token) ? o : null;
    } catch {
      return null;
    }
  }

  guardarSessao(s: Sessao): void {
    this.gravar('sessao', JSON.stringify(s));
    // Remembered after the session ends, to prove who we are when pairing again.
    this.gravar('tokenAnterior', s.token);
  }

  esquecerSessao(): void {
    this.gravar('sessao', null);
  }

  tokenAnterior(): string {
    const t = this.ler('tokenAnterior');
    return chaveValida(t) ? t : '';
  }

  nome(): string | null {
    return this.ler('nome');
  }

  guardarNome(n: string): void {
    this.gravar('nome', n);
  }

  texto(k: 'idioma' | 'tema' | 'sensibilidade' | 'vibrar' | 'dicaTouchpad' | 'base'): string | null {
    return this.ler(k);
  }

  guardarTexto(k: 'idioma' | 'tema' | 'sensibilidade' | 'vibrar' | 'dicaTouchpad' | 'base', v: string | null): void {
    this.gravar(k, v);
  }
}
