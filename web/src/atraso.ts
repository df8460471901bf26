// Delay choices for shut down / restart / sleep. "Agora" sends 0: the PC
// raises it to its own grace period, so the phone needs not know that value.

import { ATRASO_MAX } from './api.ts';

export interface OpcaoAtraso {
  segundos: number;
  // Minutes for the "{0} min" label; 0 for "Agora", 60 shows "1 h".
  minutos: number;
}

export const OPCOES_ATRASO: OpcaoAtraso[] = [0, 1, 5, 15, 30, 60].map((m) => ({ segundos: m * 60, minutos: m }));

// The custom choice, from the hour and minute fields as typed. Empty or
// non-numeric fields count as 0; the result is whole seconds within what the
// PC accepts, or null when the user chose no time at all or more than 24 h
// (the PC would cut it to 24 h silently, which would not be what was asked).
export function atrasoPersonalizado(horas: string, minutos: string): number | null {
  const ler = (s: string): number | null => {
    const t = s.trim();
    if (t === '') return 0;
    if (!/^\d{1,4}$/.test(t)) return null;
    return Number(t);
  };
  const h = ler(horas);
  const m = ler(minutos);
  if (h === null || m === null) return null;
  const total = h * 3600 + m * 60;
  if (total <= 0 || total > ATRASO_MAX) return null;
  return total;
}

// Countdown text: "9:58", "59:59", "1:00:00", "23:59:59".
export function formatarContagem(segundos: number): string {
  const s = Math.max(0, Math.floor(segundos));
  const h = Math.floor(s / 3600);
  const m = Math.floor((s % 3600) / 60);
  const r = s % 60;
  const dd = (n: number) => String(n).padStart(2, '0');
  return h > 0 ? `${h}:${dd(m)}:${dd(r)}` : `${m}:${dd(r)}`;
}

// Short label for a delay in the confirm button: "5 min", "1 h 30 min", "2 h".
export function rotuloAtraso(segundos: number): string {
  const min = Math.round(segundos / 60);
  const h = Math.floor(min / 60);
  const m = min % 60;
  if (h === 0) return `${m} min`;
  return m === 0 ? `${h} h` : `${h} h ${m} min`;
}
