// An installed copy: `cmake --install` into a temporary prefix, started from
// there in a folder without content. Its page and content come from the
// prefix, and the page shows the logos, the drum artwork and the version.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { buildDir, startMotifo } from './motifo.mjs';

// Every image of a dialog loaded, lazy ones included.
async function imagesOf(page, opener, dialog) {
  await page.click(opener, { force: true });
  await page.waitForFunction((d) => document.querySelector(d).open, dialog);
  await page.evaluate((d) => document.querySelectorAll(`${d} img`).forEach((i) => { i.loading = 'eager'; }), dialog);
  await page.waitForFunction((d) => [...document.querySelectorAll(`${d} img`)].every((i) => i.complete), dialog);
  return page.evaluate((d) => {
    const images = [...document.querySelectorAll(`${d} img`)];
    return { count: images.length, broken: images.filter((i) => i.naturalWidth === 0).map((i) => i.src),
      badges: document.querySelectorAll(`${d} .badge`).length, sources: images.map((i) => i.src) };
  }, dialog);
}

describe('an installed copy', () => {
  let prefix;
  let motifo;
  before(async () => {
    prefix = mkdtempSync(path.join(tmpdir(), 'motifo-prefix-'));
    const install = spawnSync('cmake', ['--install', buildDir, '--prefix', prefix], { encoding: 'utf8' });
    assert.equal(install.status, 0, install.stderr);
    assert.ok(existsSync(path.join(prefix, 'share/motifo/res/beats')), 'the content is installed');
    motifo = await startMotifo({ program: path.join(prefix, 'bin/motifo') });
  });
  after(async () => {
    await motifo?.stop();
    if (prefix) rmSync(prefix, { recursive: true, force: true });
  });

  test('loads its own page and shows every logo and drum picture from its own content', async () => {
    const { page } = motifo;
    assert.equal(decodeURIComponent(new URL(page.url()).pathname), path.join(prefix, 'share/motifo/html/zub.html'));
    const content = `file://${path.join(prefix, 'share/motifo/res')}/`;
    for (const [opener, dialog] of [['#instrument-button', '#instrument-picker'], ['#drums-button', '#beat-picker']]) {
      const images = await imagesOf(page, opener, dialog);
      assert.ok(images.count > 3, `${dialog} shows pictures`);
      assert.deepEqual(images.broken, [], `${dialog}: every picture loads`);
      assert.equal(images.badges, 0, `${dialog}: no placeholder stands in for a missing picture`);
      assert.ok(images.sources.every((s) => decodeURI(s).startsWith(content)), `${dialog} reads the installed content`);
      await page.keyboard.press('Escape');
      await page.waitForFunction((d) => !document.querySelector(d).open, dialog);
    }
    await page.waitForFunction(() => document.querySelector('#instrument-logo').naturalWidth > 0);
  });

  test('the credits name the version the program was built as', async () => {
    const { page } = motifo;
    const version = spawnSync(path.join(prefix, 'bin/motifo'), ['--version'], { encoding: 'utf8' }).stdout.trim();
    assert.match(version, /^Motifo \d+\.\d+\.\d+$/);
    const shown = await page.evaluate(() => {
      const p = document.querySelector('#credits-version');
      return p.hidden ? null : p.textContent;
    });
    assert.equal(shown, `Version ${version.slice('Motifo '.length)}`);
  });
});
