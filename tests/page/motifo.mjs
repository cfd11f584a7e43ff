// Starts the real program offscreen with its page open to remote debugging,
// and connects playwright-core to it.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repoRoot = path.resolve(here, '..', '..');
export const buildDir = process.env.MOTIFO_BUILD_DIR || path.join(repoRoot, 'build');

function freePort() {
  return new Promise((resolve, reject) => {
    const srv = createServer();
    srv.listen(0, '127.0.0.1', () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
    srv.on('error', reject);
  });
}

async function waitForDevtools(port, proc, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  while (Date.now() < deadline) {
    if (proc.exitCode !== null) throw new Error(`motifo exited with ${proc.exitCode}`);
    try {
      const res = await fetch(`http://127.0.0.1:${port}/json/version`);
      if (res.ok) return;
    } catch { /* not up yet */ }
    await new Promise((r) => setTimeout(r, 200));
  }
  throw new Error('the program did not open its debugging port');
}

// env adds to the program's environment; prepareHome(home) runs before the
// program starts (to store settings, for example).
export async function startMotifo({ cwd, env = {}, prepareHome } = {}) {
  const port = await freePort();
  const home = mkdtempSync(path.join(tmpdir(), 'motifo-home-'));
  if (prepareHome) prepareHome(home);
  const logs = [];
  const proc = spawn(path.join(buildDir, 'motifo'), [], {
    cwd: cwd || home,
    env: {
      ...process.env,
      QT_QPA_PLATFORM: 'offscreen',
      QTWEBENGINE_DISABLE_SANDBOX: '1',
      QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${port}`,
      XDG_DATA_HOME: path.join(home, 'data'),
      XDG_CONFIG_HOME: path.join(home, 'config'),
      XDG_RUNTIME_DIR: home,
      HOME: home,
      ...env,
    },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  proc.stdout.on('data', (d) => logs.push(String(d)));
  proc.stderr.on('data', (d) => logs.push(String(d)));
  await waitForDevtools(port, proc, 30000);
  // QtWebEngine 6.4 is Chromium 102: no default context options.
  const browser = await chromium.connectOverCDP(`http://127.0.0.1:${port}`, { noDefaults: true });
  let page;
  const deadline = Date.now() + 30000;
  while (!page && Date.now() < deadline) {
    page = browser.contexts().flatMap((c) => c.pages()).find((p) => p.url().endsWith('zub.html'));
    if (!page) await new Promise((r) => setTimeout(r, 100));
  }
  if (!page) throw new Error('the page did not open');
  const consoleErrors = [];
  page.on('console', (m) => { if (m.type() === 'error') consoleErrors.push(m.text()); });
  page.on('pageerror', (e) => consoleErrors.push(String(e)));
  await page.waitForFunction(() => window.loaded_native === true && document.body.classList.contains('connected'),
    null, { timeout: 30000 });
  // A fresh home is a first run: the welcome covers the page until dismissed.
  await page.waitForFunction(() => document.body.dataset.ready === 'true', null, { timeout: 30000 });
  const welcome = await page.evaluate(() => document.querySelector('#welcome')?.open === true);
  await page.evaluate(() => document.querySelector('#welcome')?.close());

  return {
    page,
    pid: proc.pid,
    welcome,
    logs,
    consoleErrors,
    async stop() {
      await browser.close().catch(() => {});
      proc.kill('SIGTERM');
      await new Promise((r) => (proc.exitCode !== null ? r() : proc.once('exit', r)));
      rmSync(home, { recursive: true, force: true });
    },
  };
}
