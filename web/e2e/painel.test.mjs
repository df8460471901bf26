// The panel in a phone-shaped headless Chromium against a PC program (the
// stand-in by default, the real executable with VELORIN_BIN=…). The tests run
// in order and share one paired phone, like a person using the panel.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { ARTEFATOS, Dedos, Navegador, Pc, REAL } from './harness.mjs';

const soFalso = { skip: REAL ? 'needs a state the real program only reaches from its tray menu' : false };

async function esperar(fn, ms = 5000, msg = 'condition') {
  const fim = Date.now() + ms;
  for (;;) {
    const v = await fn();
    if (v) return v;
    if (Date.now() > fim) throw new Error('timed out waiting for ' + msg);
    await new Promise((r) => setTimeout(r, 50));
  }
}

async function status(pc, pagina) {
  const token = await pagina.evaluate(() => JSON.parse(localStorage.getItem('velorin.sessao') ?? 'null')?.token ?? '');
  const r = await fetch(pc.url + '/api/status', { headers: { Authorization: 'Bearer ' + token } });
  return { http: r.status, corpo: r.status === 200 ? await r.json() : null, token };
}

async function parear(pagina, pc, codigo) {
  await pagina.goto(pc.url + '/#parear=' + codigo);
  await pagina.locator('#btn-parear').click();
  await pagina.locator('#volume').waitFor();
  await esperar(() => pagina.locator('#volume-num').evaluate((e) => e.textContent !== '—'), 5000, 'first status');
}

// Whether the panel's offline worker is active, waiting for it a while:
// `navigator.serviceWorker.ready` alone never settles when none becomes active.
function offlineAtivo(pagina) {
  return pagina.evaluate(() =>
    Promise.race([
      navigator.serviceWorker.ready.then(() => true),
      new Promise((res) => setTimeout(() => res(false), 20000)),
    ]),
  );
}

describe('phone panel', () => {
  let pc;
  let nav;
  let p;

  before(async () => {
    mkdirSync(ARTEFATOS, { recursive: true });
    pc = await Pc.iniciar();
    nav = await Navegador.iniciar();
    p = await nav.pagina();
  });

  after(async () => {
    await nav?.fechar();
    await pc?.parar();
  });

  test('pairs with the code from the QR link and shows the status', async () => {
    const codigo = await pc.codigo();
    await p.goto(pc.url + '/#parear=' + codigo);
    await p.locator('#codigo').waitFor();
    // Pre-filled, and the code is gone from the address bar.
    assert.equal(await p.locator('#codigo').inputValue(), codigo.slice(0, 3) + ' ' + codigo.slice(3));
    assert.equal(new URL(p.url()).hash, '');
    assert.ok((await p.locator('#nome').inputValue()).length > 0, 'a default phone name');
    await p.locator('#nome').fill('Celular E2E');
    await p.locator('#btn-parear').click();
    await p.locator('#volume').waitFor();
    await esperar(() => p.locator('#volume-num').evaluate((e) => e.textContent === '50'), 5000, 'volume 50');
    assert.equal(await p.locator('#nome-pc-texto').textContent(), 'PC-TESTE');
    assert.equal(await p.locator('#chip-simulacao').isVisible(), true);
    assert.equal(await p.locator('#saidas [aria-checked="true"]').textContent(), 'Alto-falantes (simulado)');
    const s = await status(pc, p);
    assert.equal(s.corpo.dispositivo.nome, 'Celular E2E');
    await pc.esperarLinha('Pareado: Celular E2E');
  });

  test('sends each control command with its effect on the PC', async () => {
    await p.locator('#btn-bloquear').click();
    await pc.esperarLinha('SIMULADO: bloquear');

    for (const [id, cod] of [['anterior', 'B1'], ['tocarPausar', 'B3'], ['proxima', 'B0']]) {
      await p.locator('#midia-' + id).click();
      await pc.esperarLinha('SIMULADO: tecla de midia $' + cod);
    }

    await p.locator('#tela-apagar').click();
    await pc.esperarLinha('SIMULADO: tela (ligada=False)');
    await esperar(async () => (await status(pc, p)).corpo.tela.ligada === false);
    await p.locator('#tela-acender').click();
    await pc.esperarLinha('SIMULADO: tela (ligada=True)');

    await p.locator('#saidas [data-id="sim-fone"]').click();
    await esperar(() => p.locator('#saidas [data-id="sim-fone"]').evaluate((e) => e.getAttribute('aria-checked') === 'true'), 5000, 'output switched');
    assert.equal((await status(pc, p)).corpo.audio.saidas.find((x) => x.padrao).id, 'sim-fone');

    await p.locator('#volume').fill('23');
    await esperar(async () => (await status(pc, p)).corpo.volume.nivel === 23, 5000, 'volume 23');
    await p.locator('#btn-mudo').click();
    await esperar(async () => (await status(pc, p)).corpo.volume.mudo === true, 5000, 'muted');
    await esperar(() => p.locator('#btn-mudo').evaluate((e) => e.getAttribute('aria-pressed') === 'true'));
    await p.locator('#btn-mudo').click();
    await esperar(async () => (await status(pc, p)).corpo.volume.mudo === false, 5000, 'unmuted');
  });

  test('keyboard: text on Enter, named keys and combos', async () => {
    await p.locator('#aba-teclado').click();
    await p.locator('#texto').fill('Olá, PC 🙂');
    await p.locator('#texto').press('Enter');
    await pc.esperarLinha('SIMULADO: texto (10 unidades UTF-16)');
    // Cleared once the PC confirmed (the log line can come before the answer).
    await esperar(async () => (await p.locator('#texto').inputValue()) === '', 3000, 'text field cleared');
    for (const k of ['esquerda', 'enter', 'f5', 'copiar', 'alternarJanela']) {
      await p.locator('#tecla-' + k).click();
      await pc.esperarLinha('SIMULADO: tecla ' + k);
    }
  });

  test('shortcuts open with feedback, and a busy PC is handled quietly', async () => {
    await p.locator('#aba-atalhos').click();
    const yt = p.locator('.atalho[data-id="youtube"]');
    await yt.waitFor();
    assert.equal(await p.locator('.atalho').count(), 4);
    await yt.click();
    await esperar(() => yt.evaluate((e) => e.textContent.includes('Aberto') || e.textContent.includes('Abrindo')));
    await pc.esperarLinha('SIMULAR abrir atalho id=youtube');
    // A second tap on another one within the PC's guard time: no error shown.
    await p.locator('.atalho[data-id="netflix"]').click();
    await p.waitForTimeout(300);
    assert.ok(!(await p.locator('#toast.erro.visivel').count()), 'no error toast for a busy PC');
  });

  test('the shortcut list follows the PC’s revision', soFalso, async () => {
    await pc.definir({ atalhos: [{ id: 'youtube', nome: 'YouTube', tipo: 'site', comum: true }, { id: 'a'.repeat(24), nome: 'Jogos', tipo: 'programa', comum: false }] });
    await esperar(async () => (await p.locator('.atalho').count()) === 2, 8000, 'new list');
    assert.match(await p.locator('.atalho').nth(1).textContent(), /Jogos/);
  });

  test('schedules a shutdown with a countdown and cancels it', async () => {
    await p.locator('#aba-controle').click();
    await p.locator('#btn-desligar').click();
    const folha = p.locator('#folha-energia');
    await folha.waitFor();
    await folha.locator('.chip[data-segundos="300"]').click();
    await folha.locator('#forcar').check();
    await folha.locator('#btn-confirmar-energia').click();
    await folha.waitFor({ state: 'detached' });
    const s = await status(pc, p);
    assert.equal(s.corpo.agendamento.acao, 'desligar');
    assert.equal(s.corpo.agendamento.forcar, true);
    assert.ok(s.corpo.agendamento.segundosRestantes > 290 && s.corpo.agendamento.segundosRestantes <= 300);
    const contagem = p.locator('#contagem');
    const t1 = await contagem.textContent();
    assert.match(t1, /^[45]:\d\d$/);
    await esperar(async () => (await contagem.textContent()) !== t1, 3000, 'countdown ticking');
    assert.equal(await p.locator('#chip-agendamento').isVisible(), true);
    await p.locator('#btn-cancelar-agendamento').click();
    await esperar(async () => (await status(pc, p)).corpo.agendamento === null);
    await p.locator('#contagem').waitFor({ state: 'detached' });
    assert.equal(await p.locator('#chip-agendamento').isVisible(), false);

    // Custom delay: 1 h 30 min.
    await p.locator('#btn-reiniciar').click();
    await folha.locator('#atraso-outro').click();
    await folha.locator('#atraso-horas').fill('1');
    await folha.locator('#atraso-minutos').fill('30');
    await folha.locator('#btn-confirmar-energia').click();
    await esperar(async () => (await status(pc, p)).corpo.agendamento?.acao === 'reiniciar');
    assert.ok((await status(pc, p)).corpo.agendamento.segundosRestantes > 5300);
    await p.locator('#btn-cancelar-agendamento').click();
    await esperar(async () => (await status(pc, p)).corpo.agendamento === null);
  });

  test('touchpad gestures produce the right mouse commands', async () => {
    await p.locator('#aba-touchpad').click();
    const caixa = await p.locator('#touchpad').boundingBox();
    const dica = p.locator('#btn-dica');
    if (await dica.count()) await dica.click();
    const dedos = await Dedos.de(p);
    // Whole pixels, so the page sees exactly the distances the test sends.
    const cx = Math.round(caixa.x + caixa.width / 2);
    const cy = Math.round(caixa.y + caixa.height / 3);
    const n = (prefixo) => pc.linhas(prefixo).length;

    await dedos.arrastar(cx, cy, 60, -20, 12);
    await esperar(() => n('SIMULADO: mouse mover') > 0, 3000, 'move');
    await p.waitForTimeout(300);
    assert.equal(n('SIMULADO: mouse clique'), 0, 'a drag is not a click');
    const movido = pc.linhas('SIMULADO: mouse mover').map((l) => l.match(/x=(-?\d+) y=(-?\d+)/).slice(1).map(Number))
      .reduce((a, b) => [a[0] + b[0], a[1] + b[1]], [0, 0]);
    assert.deepEqual(movido, [90, -30], 'deltas × default sensitivity 1.5');

    await dedos.tocar(cx, cy);
    await pc.esperarLinha('SIMULADO: mouse clique', 1);

    await dedos.tocar(cx, cy);
    await p.waitForTimeout(80);
    await dedos.tocar(cx, cy);
    await pc.esperarLinha('SIMULADO: mouse duplo', 1);
    await p.waitForTimeout(400);
    assert.equal(n('SIMULADO: mouse clique'), 1, 'the double tap sent no single clicks');

    await dedos.tocarDois(cx, cy);
    await pc.esperarLinha('SIMULADO: mouse direito', 1);

    await dedos.deslizarDois(cx, cy + 100, -120, 15);
    await pc.esperarLinha('SIMULADO: mouse rolar', 1);
    const passos = pc.linhas('SIMULADO: mouse rolar').map((l) => Number(l.match(/passos=(-?\d+)/)[1])).reduce((a, b) => a + b, 0);
    assert.equal(passos, -5, 'two fingers up 120 px = 5 steps, content following the fingers');

    await p.locator('#tp-direito').click();
    await pc.esperarLinha('SIMULADO: mouse direito', 2);
  });

  test('on a slow network the touchpad never queues requests', async () => {
    let emVoo = 0;
    let maxEmVoo = 0;
    let pedidos = 0;
    await p.route('**/api/mouse', async (rota) => {
      pedidos++;
      emVoo++;
      maxEmVoo = Math.max(maxEmVoo, emVoo);
      await new Promise((r) => setTimeout(r, 400));
      try {
        await rota.continue();
      } finally {
        emVoo--;
      }
    });
    const antes = pc.linhas('SIMULADO: mouse mover').length;
    const caixa = await p.locator('#touchpad').boundingBox();
    const dedos = await Dedos.de(p);
    const inicio = Date.now();
    await dedos.arrastar(caixa.x + 20, caixa.y + 40, 200, 100, 100);
    const duracao = Date.now() - inicio;
    await esperar(() => emVoo === 0 && pedidos > 0, 5000);
    await p.waitForTimeout(600);
    await esperar(() => emVoo === 0, 5000);
    await p.unroute('**/api/mouse');
    console.log(`# throttled drag: 100 moves in ${duracao} ms -> ${pedidos} requests, max ${maxEmVoo} in flight`);
    assert.equal(maxEmVoo, 1);
    assert.ok(pedidos <= Math.ceil(duracao / 400) + 2, `${pedidos} requests for a ${duracao} ms drag`);
    const linhas = pc.linhas('SIMULADO: mouse mover').slice(antes);
    const soma = linhas.map((l) => l.match(/x=(-?\d+) y=(-?\d+)/).slice(1).map(Number)).reduce((a, b) => [a[0] + b[0], a[1] + b[1]], [0, 0]);
    assert.deepEqual(soma, [300, 150], 'nothing dropped');
  });

  test('on a slow network the volume slider sends the last value without a queue', async () => {
    await p.locator('#aba-controle').click();
    let emVoo = 0;
    let maxEmVoo = 0;
    const corpos = [];
    await p.route('**/api/volume', async (rota) => {
      corpos.push(JSON.parse(rota.request().postData()));
      emVoo++;
      maxEmVoo = Math.max(maxEmVoo, emVoo);
      await new Promise((r) => setTimeout(r, 300));
      try {
        await rota.continue();
      } finally {
        emVoo--;
      }
    });
    await p.locator('#volume').evaluate((el) => {
      for (let v = 10; v <= 90; v++) {
        el.value = String(v);
        el.dispatchEvent(new Event('input', { bubbles: true }));
      }
      el.dispatchEvent(new Event('change', { bubbles: true }));
    });
    await esperar(async () => (await status(pc, p)).corpo.volume.nivel === 90, 5000, 'volume 90');
    await esperar(() => emVoo === 0);
    await p.unroute('**/api/volume');
    assert.equal(maxEmVoo, 1);
    assert.ok(corpos.length <= 3, `${corpos.length} requests for 81 slider steps`);
    assert.equal(corpos.at(-1).nivel, 90);
    await esperar(() => p.locator('#volume-num').evaluate((e) => e.textContent === '90'));
  });

  test('paused and updating show a banner, not an error', soFalso, async () => {
    await pc.definir({ pausado: true });
    await p.locator('#chip-pausado').waitFor({ state: 'visible', timeout: 6000 });
    assert.match(await p.locator('#banner').textContent(), /pausado/);
    assert.equal(await p.locator('#btn-bloquear').isDisabled(), true);
    await pc.definir({ pausado: false });
    await p.locator('#chip-pausado').waitFor({ state: 'hidden', timeout: 6000 });
    assert.equal(await p.locator('#btn-bloquear').isDisabled(), false);

    await pc.definir({ atualizando: true });
    await p.locator('#midia-proxima').click();
    await esperar(() => p.locator('#banner').isVisible());
    assert.match(await p.locator('#banner').textContent(), /atualizado/);
    assert.equal(await p.locator('#toast.erro.visivel').count(), 0);
    await pc.definir({ atualizando: false });
    await p.locator('#banner').waitFor({ state: 'hidden', timeout: 6000 });
  });

  test('offline shows no old data, and recovers', async () => {
    // With the offline worker in place, so it is what must not answer from a cache.
    assert.ok(await offlineAtivo(p), 'no offline worker became active');
    await p.context().setOffline(true);
    await esperar(() => p.locator('#chip-conexao').evaluate((e) => e.textContent === 'Sem conexão com o PC'), 8000, 'offline');
    assert.equal(await p.locator('#volume-num').textContent(), '—');
    assert.equal(await p.locator('#saidas .saida').count(), 0);
    assert.equal(await p.locator('#btn-bloquear').isDisabled(), true);
    // The offline copy of the panel keeps no API answer: a status read fails.
    const lido = await p.evaluate(async () => {
      try {
        await fetch('/api/status', { headers: { Authorization: 'Bearer x' } });
        return 'answered';
      } catch {
        return 'failed';
      }
    });
    assert.equal(lido, 'failed');
    await p.context().setOffline(false);
    await p.evaluate(() => dispatchEvent(new Event('online')));
    await esperar(() => p.locator('#volume-num').evaluate((e) => e.textContent === '90'), 8000, 'live again');
  });

  test('the offline script caches the static files only', async () => {
    assert.ok(await offlineAtivo(p), 'no offline worker became active');
    const r = await p.evaluate(async () => {
      const nomes = await caches.keys();
      const urls = [];
      for (const n of nomes) for (const req of await (await caches.open(n)).keys()) urls.push(new URL(req.url).pathname);
      return { escopo: (await navigator.serviceWorker.getRegistration()).scope, urls };
    });
    assert.equal(new URL(r.escopo).pathname, '/');
    assert.ok(r.urls.includes('/panel/'), r.urls.join());
    assert.ok(r.urls.includes('/app.js'));
    assert.ok(!r.urls.some((u) => u.startsWith('/api/')), r.urls.join());
    assert.ok(!r.urls.includes('/') && !r.urls.includes('/index.html'), 'aliases share the /panel/ entry');
  });

  test('hands the session over to an installed copy', async () => {
    const id = (await status(pc, p)).corpo.dispositivo.id;
    await p.locator('#nome-pc').click();
    await p.locator('#btn-transferir').click();
    const link = await p.locator('#link-transferencia').inputValue();
    assert.match(link, /\/panel\/#transferir=[A-Za-z0-9_-]{43}$/);
    await pc.esperarLinha('Transferencia criada: Celular E2E');
    assert.match(pc.linhas('Transferencia criada')[0], /identidade incluida$/);

    // The installed app keeps its own storage: a second browser profile.
    const app = await Navegador.iniciar();
    try {
      const q = await app.pagina();
      await q.goto(link);
      await q.locator('#volume').waitFor();
      assert.equal(new URL(q.url()).hash, '');
      const s2 = await status(pc, q);
      assert.equal(s2.http, 200);
      assert.equal(s2.corpo.dispositivo.id, id, 'the same device continues');
      const chaves = await Promise.all([p, q].map((x) => x.evaluate(() => localStorage.getItem('velorin.chave'))));
      assert.equal(chaves[0], chaves[1], 'the identity key came along');
      // Single use.
      const q2 = await app.pagina();
      await q2.evaluate?.(() => undefined).catch(() => undefined);
      await q2.goto(link);
      await q2.locator('#msg-parear.erro').waitFor();
      assert.match(await q2.locator('#msg-parear').textContent(), /expirou ou já foi usado/);
    } finally {
      await app.fechar();
    }
    // The browser tab goes on working with the same token.
    assert.equal((await status(pc, p)).http, 200);
    await p.locator('#btn-fechar-ajustes').click();
  });

  test('pairing again with the same identity key keeps the device id', async () => {
    const antes = await status(pc, p);
    // The PC user opens "Parear celular" again and the phone scans the new QR
    // code in the same tab: only the fragment changes, the page is not reloaded.
    const codigo = await pc.abrirPareamento();
    await p.evaluate((c) => { location.hash = '#parear=' + c; }, codigo);
    await esperar(async () => (await p.locator('#codigo').count()) && (await p.locator('#codigo').inputValue()).replace(' ', '') === codigo, 5000, 'code from the new QR');
    await p.locator('#btn-parear').click();
    await p.locator('#volume').waitFor();
    const depois = await status(pc, p);
    assert.equal(depois.corpo.dispositivo.id, antes.corpo.dispositivo.id);
    assert.notEqual(depois.token, antes.token);
    const r = await fetch(pc.url + '/api/status', { headers: { Authorization: 'Bearer ' + antes.token } });
    assert.equal(r.status, 401, 'the previous token is revoked');
  });

  test('unpair goes back to pairing, and each pairing refusal is explained', async () => {
    const antes = await status(pc, p);
    await p.locator('#nome-pc').click();
    p.once('dialog', (d) => d.accept());
    await p.locator('#btn-desparear').click();
    await p.locator('#codigo').waitFor();
    assert.match(await p.locator('#msg-parear').textContent(), /despareado/);
    const r = await fetch(pc.url + '/api/status', { headers: { Authorization: 'Bearer ' + antes.token } });
    assert.equal(r.status, 401, 'the token is revoked');

    // No session open on the PC now: its own message and next step.
    await p.locator('#codigo').fill('123 456');
    await p.locator('#btn-parear').click();
    await esperar(() => p.locator('#msg-parear').evaluate((e) => e.textContent.includes('Parear celular')), 5000, 'closed session text');

    const codigo = await pc.abrirPareamento();
    const errado = codigo === '000000' ? '111111' : '000000';
    await p.locator('#codigo').fill(errado);
    await p.locator('#btn-parear').click();
    await esperar(() => p.locator('#msg-parear').evaluate((e) => e.textContent.includes('Código incorreto')), 5000, 'wrong code text');

    await p.locator('#codigo').fill(codigo.slice(0, 3) + ' ' + codigo.slice(3));
    await p.locator('#btn-parear').click();
    await p.locator('#volume').waitFor();
    assert.equal((await status(pc, p)).http, 200);
  });

  test('a phone removed on the PC goes back to pairing with an explanation', async () => {
    const { token } = await status(pc, p);
    await fetch(pc.url + '/api/parear', { method: 'DELETE', headers: { Authorization: 'Bearer ' + token } });
    await p.locator('#codigo').waitFor({ timeout: 8000 });
    assert.match(await p.locator('#msg-parear').textContent(), /não está mais pareado/);
  });

  test('no script or style broke the page’s security policy', () => {
    assert.deepEqual(p.erros.filter((e) => /Content Security Policy|Refused to/.test(e)), []);
  });
});

describe('pairing limit', () => {
  test('too many wrong codes: a countdown from Retry-After', async () => {
    const pc = await Pc.iniciar();
    const nav = await Navegador.iniciar();
    try {
      const p = await nav.pagina();
      const certo = await pc.codigo();
      await p.goto(pc.url + '/');
      const errado = certo === '000000' ? '111111' : '000000';
      for (let i = 0; i < 10; i++) {
        // The PC gives a new code every five misses, and closes after fifteen.
        await p.locator('#codigo').fill(errado);
        await p.locator('#btn-parear').click();
        await esperar(() => p.locator('#btn-parear').isEnabled());
      }
      await p.locator('#codigo').fill(errado);
      await p.locator('#btn-parear').click();
      await esperar(() => p.locator('#msg-parear').evaluate((e) => /Tente de novo em \d+:\d\d/.test(e.textContent)), 5000, 'countdown');
      assert.equal(await p.locator('#btn-parear').isDisabled(), true);
      const t1 = await p.locator('#msg-parear').textContent();
      await esperar(async () => (await p.locator('#msg-parear').textContent()) !== t1, 3000, 'countdown ticking');
    } finally {
      await nav.fechar();
      await pc.parar();
    }
  });
});
