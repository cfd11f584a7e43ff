// The real program in a real window on an X server of its own: the page at
// the web view's real size (the window less its menu and status bars) at
// the default size, the smallest, 1280x800 and 1920x1080; axe-core on every
// main screen; and an export to WAV saved through the program's own file
// chooser, which the test answers as a user would, read back with sox.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, test } from 'node:test';
import { playKeys, startMotifo, xdotool } from './motifo.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const artifacts = path.join(here, 'artifacts');
const axeSource = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');

// The window's sizes; the default comes first and is what the program chose.
const SIZES = [['default', null], ['smallest', [900, 600]], ['1280x800', [1280, 800]], ['1920x1080', [1920, 1080]]];

const ask = (page, text) => page.evaluate((t) => window.nativeZub.handleMessage(t), text);
const state = async (page, command, key) => JSON.parse(await ask(page, command))[key];
const open = (page, sel) => page.evaluate((s) => document.querySelector(s)?.open === true, sel);

async function screenshot(page, name) {
  mkdirSync(artifacts, { recursive: true });
  await page.screenshot({ path: path.join(artifacts, `${name}.png`) });
}

// Nothing of the page lies outside the view or needs scrolling; every
// visible control is whole inside its scrolling box.
function cutOff(page) {
  return page.evaluate(() => {
    const out = [];
    const doc = document.documentElement;
    if (doc.scrollWidth > innerWidth || doc.scrollHeight > innerHeight) out.push(`page scrolls: ${doc.scrollWidth}x${doc.scrollHeight}`);
    const scrollBox = (e) => {
      for (let n = e.parentElement; n; n = n.parentElement) {
        const s = getComputedStyle(n);
        if (/(auto|scroll)/.test(s.overflowY + s.overflowX)) return n;
      }
      return null;
    };
    for (const e of document.querySelectorAll('button, input, select, .status, h1, h2, .keyboard, .pads')) {
      const r = e.getBoundingClientRect();
      if (!r.width || !r.height || e.closest('dialog:not([open])') || scrollBox(e)) continue;
      if (r.left < -0.5 || r.top < -0.5 || r.right > innerWidth + 0.5 || r.bottom > innerHeight + 0.5) {
        out.push(`${e.id || e.className || e.tagName}: ${Math.round(r.left)},${Math.round(r.top)}-${Math.round(r.right)},${Math.round(r.bottom)}`);
      }
    }
    return out;
  });
}

// axe-core's WCAG A and AA rules: contrast, names and roles among them.
async function axeViolations(page) {
  if (!(await page.evaluate(() => typeof window.axe === 'object'))) await page.evaluate(axeSource);
  return page.evaluate(async () => {
    const result = await window.axe.run(document, { runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa'] } });
    return result.violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).slice(0, 4).join(', ')}`);
  });
}

describe('Motifo in a window', () => {
  let motifo;
  let mainWindow;
  before(async () => {
    motifo = await startMotifo({ audio: true, display: { width: 1920, height: 1080 } });
    // The main window is the largest window whose title ends with the program's name.
    const area = (id) => {
      const [w, h] = xdotool(motifo.display, ['getwindowgeometry', id]).match(/Geometry: (\d+)x(\d+)/).slice(1).map(Number);
      return w * h;
    };
    const ids = xdotool(motifo.display, ['search', '--sync', '--onlyvisible', '--name', 'Motifo$']).split('\n');
    mainWindow = ids.reduce((best, id) => (area(id) > area(best) ? id : best));
  });
  after(async () => { await motifo?.stop(); });

  const resize = async (size) => {
    const { page } = motifo;
    if (size) {
      const before = await page.evaluate(() => `${innerWidth}x${innerHeight}`);
      xdotool(motifo.display, ['windowsize', '--sync', mainWindow, String(size[0]), String(size[1])]);
      await page.waitForFunction((b) => `${innerWidth}x${innerHeight}` !== b, before);
    }
    return xdotool(motifo.display, ['getwindowgeometry', mainWindow]).match(/Geometry: (\d+x\d+)/)[1];
  };

  test('a song to show: loops kept in two ideas, a take from free playing', async (t) => {
    const { page } = motifo;
    if (!motifo.audio) { t.skip('needs the audio clock of a JACK server'); return; }
    for (let i = 0; i < 2; i++) {
      await page.click('#record', { force: true });
      await playKeys(page, ['60', '64']);
      await page.waitForFunction(() => !document.querySelector('#keep-loop').disabled, null, { timeout: 10000 });
      await page.click('#keep-loop', { force: true });
      await page.waitForFunction((n) => document.querySelectorAll('#loops .loop-card').length === n, i + 1);
      await page.click('#record', { force: true });
    }
    await page.click('#idea-clone', { force: true });
    await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 2);
  });

  // The main screens, each shown, checked and left the way a user would.
  const SCREENS = [
    ['ideas', async () => {}, async () => {}],
    ['instruments', async (page) => {
      await page.click('#instrument-button', { force: true });
      await page.waitForFunction(() => document.querySelector('#instrument-picker').open);
    }, async (page) => page.keyboard.press('Escape')],
    ['drums', async (page) => {
      await page.click('#drums-button', { force: true });
      await page.waitForFunction(() => document.querySelector('#beat-picker').open);
    }, async (page) => page.keyboard.press('Escape')],
    ['controls', async (page) => {
      await page.click('#menu-button', { force: true });
      await page.click('#main-menu [data-action="controls"]', { force: true });
      await page.waitForFunction(() => document.querySelector('#controls').open);
    }, async (page) => page.keyboard.press('Escape')],
    // Link stays off here: only a network namespace of its own may switch it on.
    ['settings', async (page) => {
      await page.click('#menu-button', { force: true });
      await page.click('#main-menu [data-action="settings"]', { force: true });
      await page.waitForFunction(() => document.querySelector('#settings').open);
    }, async (page) => page.keyboard.press('Escape')],
    ['takes', async (page) => {
      await page.click('#open-freestyle', { force: true });
      await page.waitForFunction(() => document.body.dataset.screen === 'takes' &&
        document.querySelector('#freestyle-status').textContent === 'Idle');
      if (!(await page.evaluate(() => document.querySelectorAll('#takes .loop-card').length))) {
        await playKeys(page, ['60', '62', '64']);
        await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length > 0, null, { timeout: 15000 });
      }
    }, async () => {}],
    ['tempo', async (page) => {
      await page.click('#takes [data-role="tempo"]', { force: true });
      await page.waitForFunction(() => document.body.dataset.screen === 'tempo');
    }, async (page) => {
      await page.click('#tempo-cancel', { force: true });
      await page.waitForFunction(() => document.body.dataset.screen === 'takes');
      await page.click('#freestyle-close', { force: true });
      await page.waitForFunction(() => document.body.dataset.screen === 'ideas');
    }],
  ];

  for (const [sizeName, size] of SIZES) {
    test(`at the ${sizeName} window size every main screen fits the view, readable and named`, async () => {
      const { page, consoleErrors } = motifo;
      const geometry = await resize(size);
      if (!size) {
        const [w, h] = geometry.split('x').map(Number);
        assert.ok(w >= 900 && h >= 600, `the default ${geometry} is at least the smallest size`);
      }
      for (const [screen, show, leave] of SCREENS) {
        await show(page);
        await page.evaluate(() => document.querySelectorAll('dialog img').forEach((i) => { i.loading = 'eager'; }));
        await page.waitForFunction(() => [...document.querySelectorAll('dialog[open] img')].every((i) => i.complete));
        const label = `${screen} at ${geometry}`;
        await screenshot(page, `window-${sizeName}-${screen}`);
        assert.deepEqual(await cutOff(page), [], label);
        // axe runs once per screen; contrast and names do not change with the size.
        if (!size) assert.deepEqual(await axeViolations(page), [], label);
        await leave(page);
        await page.waitForFunction(() => !document.querySelector('dialog[open]'));
      }
      assert.deepEqual(consoleErrors, []);
    });
  }

  test('Export song as WAV saves through the file chooser, names the file, and sox reads it back', async (t) => {
    const { page } = motifo;
    if (spawnSync('sh', ['-c', 'command -v xdotool && command -v soxi']).status !== 0) { t.skip('needs xdotool and sox'); return; }
    const target = path.join(motifo.home, 'My Song.wav');
    const ideas = (await state(page, 'getIdeaCollection', 'idea_collection')).ideas;
    const frames = ideas.reduce((n, i) => n + Math.max(0, ...i.loops.map((l) => Math.round(l.length_seconds * 44100))), 0);
    assert.ok(frames > 0);
    await page.click('#menu-button', { force: true });
    await page.click('#main-menu [data-action="export-song"]', { force: true });
    // The program's own file chooser: type the name and press Enter.
    const chooser = xdotool(motifo.display, ['search', '--sync', '--onlyvisible', '--name', 'Export Song']).split('\n')[0];
    xdotool(motifo.display, ['windowfocus', '--sync', chooser]);
    xdotool(motifo.display, ['key', '--clearmodifiers', 'ctrl+a']);
    xdotool(motifo.display, ['type', '--delay', '20', target]);
    xdotool(motifo.display, ['key', 'Return']);
    await page.waitForFunction(() => /^Saved the song as My Song\.wav/.test(document.querySelector('#render-text').textContent),
      null, { timeout: 60000 });
    assert.equal(await open(page, '#render-dialog'), true);
    await screenshot(page, 'window-export');
    assert.ok(existsSync(target));
    const info = spawnSync('soxi', [target], { encoding: 'utf8' });
    assert.equal(info.status, 0, info.stderr);
    assert.match(info.stdout, /Channels\s*: 2/);
    assert.match(info.stdout, /Sample Rate\s*: 44100/);
    assert.match(info.stdout, /Precision\s*: 16-bit/);
    const samples = Number(/= (\d+) samples/.exec(info.stdout)[1]);
    assert.equal(samples, frames, 'every idea once, each for its longest loop');
    const stat = spawnSync('sox', [target, '-n', 'stat'], { encoding: 'utf8' });
    assert.ok(Number(/RMS\s+amplitude:\s+([\d.]+)/.exec(stat.stderr)[1]) > 0.001, 'the song is not silent');
    await page.keyboard.press('Escape');
  });
});
