// Layout, accessibility and behaviour under load, at the window's start size
// and at full HD.
import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { setup, waitIdle, screenshot, repoRoot, mark, sentSince, recordSomething } from './harness.mjs';

// The web view inside the smallest window and inside a full HD one (the
// window's menu and status bars take about 41 pixels).
const SIZES = [
  { name: 'smallest', viewport: { width: 900, height: 559 } },
  { name: 'fullhd', viewport: { width: 1920, height: 1039 } },
];

// Loops in two ideas, so that every part of the main screen has content.
async function populate(page) {
  for (let i = 0; i < 3; i++) {
    await recordSomething(page);
    await page.click('#keep-loop');
  }
  await page.waitForFunction(() => document.querySelectorAll('#loops .loop-card').length === 3);
  await page.click('#idea-clone');
  await page.waitForFunction(() => document.querySelectorAll('#ideas .idea-item').length === 2);
}

function accessibleNames(page) {
  return page.evaluate(() => {
    const visible = (e) => e.getClientRects().length > 0 && getComputedStyle(e).visibility !== 'hidden';
    const name = (e) => {
      if (e.getAttribute('aria-label')) return e.getAttribute('aria-label');
      const by = e.getAttribute('aria-labelledby');
      if (by) return by.split(' ').map((id) => document.getElementById(id)?.textContent || '').join(' ');
      if (e.labels && e.labels.length) return [...e.labels].map((l) => l.textContent).join(' ');
      return (e.textContent || '').trim() || e.getAttribute('title') || '';
    };
    const missing = [];
    for (const e of document.querySelectorAll('button, input, select, a[href], [role="meter"], [role="progressbar"], canvas[role="img"], dialog, progress')) {
      if (e.tagName !== 'DIALOG' && !visible(e)) continue;
      if (!name(e).trim()) missing.push(e.outerHTML.slice(0, 80));
    }
    return missing;
  });
}

// WCAG contrast of every visible text against its first opaque background.
function contrastFailures(page) {
  return page.evaluate(() => {
    const rgb = (s) => (s.match(/[\d.]+/g) || []).map(Number);
    const lum = ([r, g, b]) => {
      const f = (c) => { c /= 255; return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4; };
      return 0.2126 * f(r) + 0.7152 * f(g) + 0.0722 * f(b);
    };
    const background = (e) => {
      for (let n = e; n; n = n.parentElement) {
        const c = rgb(getComputedStyle(n).backgroundColor);
        if (c.length >= 3 && (c.length < 4 || c[3] > 0.9) && !getComputedStyle(n).backgroundImage.includes('gradient')) return c;
      }
      return [20, 22, 27];
    };
    const fails = [];
    const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
    for (let t = walker.nextNode(); t; t = walker.nextNode()) {
      const e = t.parentElement;
      if (!t.textContent.trim() || !e || e.closest('[hidden], .visually-hidden, [disabled], script, style, option')) continue;
      if (!e.getClientRects().length) continue;
      const s = getComputedStyle(e);
      if (s.visibility === 'hidden' || Number(s.opacity) < 0.5) continue;
      const fg = lum(rgb(s.color));
      const bg = lum(background(e));
      const ratio = (Math.max(fg, bg) + 0.05) / (Math.min(fg, bg) + 0.05);
      const large = parseFloat(s.fontSize) >= 24 || (parseFloat(s.fontSize) >= 18.6 && Number(s.fontWeight) >= 700);
      if (ratio < (large ? 3 : 4.5)) fails.push(`${t.textContent.trim().slice(0, 30)}: ${ratio.toFixed(2)}`);
    }
    return fails;
  });
}

describe('layout and accessibility', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  for (const size of SIZES) {
    test(`the main screen fits ${size.viewport.width}x${size.viewport.height} without scrolling or overlap`, async () => {
      const { page, errors } = await h.open({ viewport: size.viewport });
      await populate(page);
      await waitIdle(page);
      await screenshot(page, `main-${size.name}`);
      const box = await page.evaluate(() => {
        const r = (s) => document.querySelector(s).getBoundingClientRect().toJSON();
        return {
          scrollW: document.documentElement.scrollWidth, scrollH: document.documentElement.scrollHeight,
          w: innerWidth, h: innerHeight,
          bar: r('.bar'), recorder: r('#recorder'), ideas: r('#idea-setup'), play: r('#keyboard-section'),
          keyboard: r('#keyboard'), status: r('#status'),
          headerItemsBottom: Math.max(...[...document.querySelectorAll('.bar > *:not([hidden])')].map((e) => e.getBoundingClientRect().bottom)),
        };
      });
      assert.ok(box.scrollW <= box.w && box.scrollH <= box.h, JSON.stringify(box));
      assert.ok(box.headerItemsBottom <= box.bar.bottom, 'header items stay on one line');
      assert.ok(box.bar.bottom <= box.recorder.top && box.recorder.bottom <= box.ideas.top && box.ideas.bottom <= box.play.top);
      assert.ok(box.play.bottom <= box.h && box.keyboard.height >= 100, JSON.stringify(box.keyboard));
      assert.ok(box.ideas.height >= 200, `ideas area ${box.ideas.height}`);
      assert.ok(box.status.right <= box.w);
      assert.deepEqual(await accessibleNames(page), []);
      assert.deepEqual(await contrastFailures(page), []);
      assert.deepEqual(errors, []);
    });
  }

  test('every screen and dialog has names for its controls and readable text', async () => {
    const { page, errors } = await h.open();
    await populate(page);
    const check = async (label) => {
      assert.deepEqual(await accessibleNames(page), [], label);
      assert.deepEqual(await contrastFailures(page), [], label);
    };
    for (const opener of ['#instrument-button', '#drums-button', '#menu-button']) {
      await page.click(opener);
      await page.waitForFunction(() => document.querySelector('dialog[open]'));
      await check(opener);
      await page.keyboard.press('Escape');
    }
    // The settings, with Link on so that every part of them shows.
    await page.click('#link');
    await page.click('#menu-button');
    await page.click('#main-menu [data-action="settings"]');
    await page.waitForFunction(() => document.querySelector('#settings').open && document.querySelector('#link-enabled').checked);
    await check('settings');
    await page.keyboard.press('Escape');
    await page.click('#open-freestyle');
    await page.evaluate(() => window.__fake.addTake(2));
    await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length === 1);
    await check('free takes');
    await page.click('#takes [data-role="tempo"]');
    await page.waitForFunction(() => !document.querySelector('#tempo-screen').hidden);
    await check('tempo');
    assert.deepEqual(errors, []);
  });

  test('keyboard focus is always visible while tabbing through the page', async () => {
    const { page } = await h.open();
    await populate(page);
    await page.locator('body').focus();
    const unseen = [];
    for (let i = 0; i < 45; i++) {
      await page.keyboard.press('Tab');
      const f = await page.evaluate(() => {
        const e = document.activeElement;
        const s = getComputedStyle(e);
        return { tag: e.tagName, id: e.id || e.className, outline: s.outlineStyle !== 'none' && parseFloat(s.outlineWidth) >= 2 };
      });
      if (f.tag !== 'BODY' && !f.outline) unseen.push(f.id);
    }
    assert.deepEqual(unseen, []);
  });
});

describe('under a stream of messages', () => {
  let h;
  before(async () => { h = await setup(); });
  after(async () => { await h.close(); });

  test('meter levels and freestyle states pushed together cost bounded work and the page keeps playing', async () => {
    const { page, errors } = await h.open();
    await page.click('#instrument-button');
    await page.click('.instrument-tile[data-id="500"]');
    await page.waitForFunction(() => !document.querySelector('#input-meter').hidden);
    await page.click('#open-freestyle');
    await page.evaluate(() => { window.__fake.addTake(2); window.__fake.addTake(3); });
    await page.waitForFunction(() => document.querySelectorAll('#takes .loop-card').length === 2);
    const work = await page.evaluate(async () => {
      let records = 0;
      const obs = new MutationObserver((list) => { records += list.length; });
      obs.observe(document.body, { subtree: true, childList: true, attributes: true, characterData: true });
      let frames = 0;
      let run = true;
      const tick = () => { frames++; if (run) requestAnimationFrame(tick); };
      requestAnimationFrame(tick);
      const state = window.__fake.freestyleJson();
      // One second of traffic at ten times the rate the engine sends it.
      for (let ms = 0; ms < 1000; ms += 5) {
        window.handleMsgFromQt4(`{ "input_vu_meter" : { "value" : ${(0.2 + 0.1 * Math.sin(ms)).toFixed(4)} } }`);
        state.freestyle_recorder.status = ms % 10 ? 'Waiting' : 'Idle';
        window.handleMsgFromQt4(JSON.stringify(state));
        if (ms % 50 === 0) await new Promise((r) => setTimeout(r, 0));
      }
      await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
      run = false;
      obs.disconnect();
      return { records, frames };
    });
    // 400 messages: the DOM changes only by a few records per frame.
    assert.ok(work.records <= 6 * work.frames + 20, JSON.stringify(work));
    await page.evaluate(() => window.__fake.stopMeters());
    const m = await mark(page);
    await page.locator('body').focus();
    await page.keyboard.press('h');
    await waitIdle(page);
    assert.deepEqual((await sentSince(page, m)).filter((t) => t.startsWith('note')), ['noteOn->69', 'noteOff->69']);
    assert.deepEqual(errors, []);
  });
});

describe('what Chromium 102 runs', () => {
  // QtWebEngine 6.4 is Chromium 102: nothing newer may be used.
  const NEWER = [
    [/:has\(/, 'CSS :has()'], [/@container/, 'container queries'], [/\bcq[whib]\b|\d(cqw|cqh)\b/, 'container units'],
    [/color-mix\(/, 'color-mix()'], [/\b\d+(dvh|svh|lvh)\b/, 'dynamic viewport units'], [/popover/, 'popover'],
    [/startViewTransition|view-transition/, 'view transitions'], [/\.toSorted\(|\.toReversed\(|\.with\(/, 'change-array-by-copy'],
    [/Object\.groupBy|Map\.groupBy/, 'groupBy'], [/Array\.fromAsync/, 'Array.fromAsync'], [/^\s*&[\s.:]/m, 'CSS nesting'],
    [/\bstructuredClone\b.*\btransfer\b/, 'structuredClone transfer'], [/import\s.*\sassert\s*\{/, 'import assertions'],
  ];
  const root = path.join(repoRoot, 'src', 'html');
  const files = [];
  const walk = (dir) => {
    for (const e of readdirSync(dir, { withFileTypes: true })) {
      if (e.isDirectory()) walk(path.join(dir, e.name));
      else if (/\.(js|css|html)$/.test(e.name)) files.push(path.join(dir, e.name));
    }
  };
  walk(root);
  test('no page file uses a newer feature', () => {
    const found = [];
    for (const f of files) {
      const text = readFileSync(f, 'utf8');
      for (const [re, what] of NEWER) if (re.test(text)) found.push(`${path.relative(root, f)}: ${what}`);
    }
    assert.deepEqual(found, []);
  });
});

describe('the page starts without waiting on its modules', () => {
  // zub.html preloads the modules main.js reaches, so that they load side by
  // side instead of one import at a time; a module left off the list only
  // loads later, and nothing else would notice.
  test('every module the page imports is preloaded, and nothing else is', () => {
    const dir = path.join(repoRoot, 'src', 'html');
    const reached = new Set();
    const visit = (file) => {
      if (reached.has(file)) return;
      reached.add(file);
      const text = readFileSync(path.join(dir, 'js', file), 'utf8');
      for (const m of text.matchAll(/^(?:import|export)\s[^;]*?['"]\.\/([\w-]+\.js)['"]/gms)) visit(m[1]);
    };
    visit('main.js');
    reached.delete('main.js');
    const html = readFileSync(path.join(dir, 'zub.html'), 'utf8');
    const preloaded = [...html.matchAll(/<link rel="modulepreload" href="js\/([\w-]+\.js)">/g)].map((m) => m[1]);
    assert.deepEqual(preloaded.slice().sort(), [...reached].sort());
  });
});
