// Screenshots of every screen in the three languages and both themes, saved
// to e2e/artefatos/ for people to look at (not compared pixel by pixel), and
// the start-up time measured on a phone viewport.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { ARTEFATOS, Navegador, Pc } from './harness.mjs';

const IDIOMAS = ['pt', 'en', 'es'];
const TEMAS = ['light', 'dark'];

describe('screens', () => {
  let pc;
  let nav;
  let p;

  before(async () => {
    mkdirSync(ARTEFATOS, { recursive: true });
    pc = await Pc.iniciar();
    nav = await Navegador.iniciar();
    p = await nav.pagina();
    await p.goto(pc.url + '/#parear=' + (await pc.codigo()));
    await p.locator('#btn-parear').click();
    await p.locator('#volume').waitFor();
  });

  after(async () => {
    await nav?.fechar();
    await pc?.parar();
  });

  test('first render on a phone viewport (measured, reported)', async () => {
    const tempos = [];
    for (let i = 0; i < 5; i++) {
      await p.goto(pc.url + '/panel/');
      await p.locator('#volume').waitFor();
      tempos.push(await p.evaluate(() => performance.getEntriesByName('painel-montado')[0].startTime));
    }
    tempos.sort((a, b) => a - b);
    console.log(`# first render (control screen, from navigation start): median ${tempos[2].toFixed(0)} ms, runs ${tempos.map((x) => x.toFixed(0)).join(' ')}`);
    assert.equal(tempos.length, 5);
  });

  test('every screen, three languages, light and dark', async () => {
    const pareamento = await Navegador.iniciar();
    try {
      const q = await pareamento.pagina();
      for (const idioma of IDIOMAS) {
        for (const tema of TEMAS) {
          const foto = async (pg, nome) => {
            await pg.screenshot({ path: join(ARTEFATOS, `${nome}-${idioma}-${tema === 'light' ? 'claro' : 'escuro'}.png`) });
            // Every control a screen reader reaches has a name, and no control is under 44 px.
            const falhas = await pg.evaluate(() => {
              const r = [];
              for (const el of document.querySelectorAll('button, input, select, a[href], [role="application"]')) {
                const cx = el.getBoundingClientRect();
                if (!cx.width || el.closest('[hidden]') || el.type === 'hidden') continue;
                const rotulo = el.getAttribute('aria-label') || el.getAttribute('aria-labelledby') || (el.id && document.querySelector(`label[for="${el.id}"]`)) || el.textContent.trim();
                if (!rotulo) r.push('no name: ' + el.outerHTML.slice(0, 80));
                if (el.type !== 'checkbox' && el.type !== 'range' && (cx.height < 44 || cx.width < 44)) r.push(`small (${cx.width}x${cx.height}): ` + el.outerHTML.slice(0, 80));
              }
              return r;
            });
            assert.deepEqual(falhas, [], nome);
          };
          await p.emulateMedia({ colorScheme: tema, reducedMotion: 'reduce' });
          await q.emulateMedia({ colorScheme: tema, reducedMotion: 'reduce' });
          await q.goto(pc.url + '/');
          await q.evaluate((i) => localStorage.setItem('velorin.idioma', i), idioma);
          await q.goto(pc.url + '/#parear=123456');
          await q.locator('#codigo').waitFor();
          await foto(q, '1-pareamento');

          await p.evaluate((i) => {
            localStorage.setItem('velorin.idioma', i);
            localStorage.removeItem('velorin.dicaTouchpad');
          }, idioma);
          await p.goto(pc.url + '/panel/');
          await p.locator('#volume').waitFor();
          await p.waitForFunction(() => document.querySelector('#volume-num')?.textContent !== '—');
          await foto(p, '2-controle');
          await p.locator('#btn-desligar').click();
          await p.locator('#folha-energia').waitFor();
          await foto(p, '3-energia');
          await p.locator('#atraso-outro').click();
          await p.locator('#atraso-minutos').fill('45');
          await p.locator('#btn-confirmar-energia').click();
          await p.locator('#contagem').waitFor();
          await p.locator('#agendamento').scrollIntoViewIfNeeded();
          await foto(p, '4-agendado');
          await p.locator('#btn-cancelar-agendamento').click();
          await p.locator('#contagem').waitFor({ state: 'detached' });
          await p.evaluate(() => scrollTo(0, 0));
          await p.locator('#aba-touchpad').click();
          await foto(p, '5-touchpad');
          await p.locator('#aba-teclado').click();
          await foto(p, '6-teclado');
          await p.locator('#aba-atalhos').click();
          await p.locator('.atalho').first().waitFor();
          await foto(p, '7-atalhos');
          await p.locator('#aba-controle').click();
          await p.locator('#nome-pc').click();
          await p.locator('#btn-transferir').click();
          await p.locator('#link-transferencia').waitFor();
          await foto(p, '8-ajustes');
          await p.locator('#btn-fechar-ajustes').click();
        }
      }
      await p.emulateMedia({ colorScheme: 'light' });
      await p.evaluate(() => localStorage.setItem('velorin.idioma', 'pt'));
      await p.goto(pc.url + '/panel/');
      await p.locator('#volume').waitFor();
      await p.context().setOffline(true);
      await p.waitForFunction(() => document.querySelector('.painel.offline'), null, { timeout: 8000 });
      await p.screenshot({ path: join(ARTEFATOS, '9-offline-pt-claro.png') });
      await p.context().setOffline(false);
      await p.setViewportSize({ width: 800, height: 1280 });
      await p.goto(pc.url + '/panel/');
      await p.locator('#volume').waitFor();
      await p.waitForFunction(() => document.querySelector('#volume-num')?.textContent !== '—');
      await p.screenshot({ path: join(ARTEFATOS, '10-tablet-pt-claro.png') });
      await p.setViewportSize({ width: 360, height: 640 });
      assert.deepEqual(p.erros.filter((e) => /Content Security Policy|Refused to/.test(e)), []);
    } finally {
      await pareamento.fechar();
    }
  });
});
