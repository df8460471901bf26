// Tiny element builder: the panel has a handful of screens and builds them
// directly, without a framework, to stay small and start fast.

type Filho = Node | string | null | undefined | false;
type Atributos = Record<string, string | number | boolean | null | undefined | EventListener>;

export function h<K extends keyof HTMLElementTagNameMap>(
  tag: K,
  attrs: Atributos | null = null,
  ...filhos: (Filho | Filho[])[]
): HTMLElementTagNameMap[K] {
  const el = document.createElement(tag);
  if (attrs) {
    for (const [k, v] of Object.entries(attrs)) {
      if (v === null || v === undefined || v === false) continue;
      if (k.startsWith('on') && typeof v === 'function') {
        el.addEventListener(k.slice(2), v as EventListener);
      } else if (k === 'class') {
        el.className = String(v);
      } else if (v === true) {
        el.setAttribute(k, '');
      } else {
        el.setAttribute(k, String(v));
      }
    }
  }
  for (const f of filhos.flat()) {
    if (f === null || f === undefined || f === false) continue;
    el.append(typeof f === 'string' ? document.createTextNode(f) : f);
  }
  return el;
}

const NS = 'http://www.w3.org/2000/svg';

// A line icon from the sprite built into the page (see icones.ts).
export function icone(nome: string, classe = 'ic'): SVGSVGElement {
  const svg = document.createElementNS(NS, 'svg');
  svg.setAttribute('class', classe);
  svg.setAttribute('aria-hidden', 'true');
  svg.setAttribute('focusable', 'false');
  const use = document.createElementNS(NS, 'use');
  use.setAttribute('href', '#i-' + nome);
  svg.append(use);
  return svg;
}

export function $(sel: string, raiz: ParentNode = document): HTMLElement | null {
  return raiz.querySelector(sel) as HTMLElement | null;
}
