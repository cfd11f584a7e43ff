// Runs the page in Debian's headless Chromium against the fake program:
// a small local server gives the page at /src/html/zub.html and artwork at
// /res/..., where the page's "../../res/..." paths point.
import { createServer } from 'node:http';
import { mkdirSync, readFileSync, statSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { deflateSync } from 'node:zlib';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repoRoot = path.resolve(here, '..', '..');
export const artifacts = path.join(here, 'artifacts');
const htmlRoot = path.join(repoRoot, 'src', 'html');
const fakeScript = path.join(here, 'fakenative.js');

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.png': 'image/png', '.svg': 'image/svg+xml' };

const CRC = new Int32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c;
});
function crc32(buf) {
  let c = -1;
  for (const b of buf) c = CRC[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ -1) >>> 0;
}
function chunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'ascii');
  data.copy(out, 8);
  out.writeUInt32BE(crc32(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}
// A small artwork image whose colours come from its path.
export function artwork(seedText, size = 48) {
  let h = 0;
  for (const c of seedText) h = (h * 31 + c.charCodeAt(0)) >>> 0;
  const a = [(h & 0xff) | 0x40, ((h >> 8) & 0xff) | 0x40, ((h >> 16) & 0xff) | 0x40];
  const raw = Buffer.alloc((size * 3 + 1) * size);
  for (let y = 0; y < size; y++) {
    raw[y * (size * 3 + 1)] = 0;
    for (let x = 0; x < size; x++) {
      const ring = Math.hypot(x - size / 2, y - size / 2) < size / 3;
      const o = y * (size * 3 + 1) + 1 + x * 3;
      raw[o] = ring ? 255 - a[0] : a[0];
      raw[o + 1] = ring ? 255 - a[1] : a[1];
      raw[o + 2] = ring ? 255 - a[2] : a[2];
    }
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(size, 0);
  ihdr.writeUInt32BE(size, 4);
  ihdr[8] = 8; ihdr[9] = 2; ihdr[10] = 0; ihdr[11] = 0; ihdr[12] = 0;
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', ihdr),
    chunk('IDAT', deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

export function startServer() {
  const server = createServer((req, res) => {
    const url = decodeURIComponent(new URL(req.url, 'http://localhost').pathname);
    if (url.startsWith('/res/') && url.endsWith('.png')) {
      res.writeHead(200, { 'content-type': 'image/png' });
      res.end(artwork(url));
      return;
    }
    if (url.startsWith('/src/html/')) {
      const file = path.join(htmlRoot, path.normalize(url.slice('/src/html/'.length)));
      if (file.startsWith(htmlRoot) && statSync(file, { throwIfNoEntry: false })?.isFile()) {
        res.writeHead(200, { 'content-type': TYPES[path.extname(file)] || 'application/octet-stream' });
        res.end(readFileSync(file));
        return;
      }
    }
    res.writeHead(404);
    res.end();
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => resolve({ server, base: `http://127.0.0.1:${server.address().port}` }));
  });
}

export function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run'],
  });
}

// One browser and server for a test file; each `open` gives a fresh page
// with the fake program and a record of console errors.
export async function setup() {
  const { server, base } = await startServer();
  const browser = await launchBrowser();
  const pages = [];
  return {
    browser,
    base,
    async open({ config = {}, viewport = { width: 1000, height: 674 } } = {}) {
      const context = await browser.newContext({ viewport, acceptDownloads: true });
      const page = await context.newPage();
      const errors = [];
      page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
      page.on('pageerror', (e) => errors.push(String(e)));
      await page.addInitScript((c) => { window.__fakeConfig = c; }, config);
      await page.addInitScript({ path: fakeScript });
      await page.goto(`${base}/src/html/zub.html`);
      await page.waitForFunction(() => document.body.classList.contains('connected'));
      await waitIdle(page);
      pages.push(context);
      return { page, errors, context };
    },
    async close() {
      for (const c of pages) await c.close().catch(() => {});
      await browser.close();
      server.close();
    },
  };
}

// Lets queued messages and the frames after them settle.
export async function waitIdle(page) {
  await page.evaluate(() => new Promise((r) => setTimeout(() => requestAnimationFrame(() => setTimeout(r, 0)), 0)));
}

export async function screenshot(page, name) {
  mkdirSync(artifacts, { recursive: true });
  await page.screenshot({ path: path.join(artifacts, `${name}.png`) });
}

// What the fake program received, as texts.
export function sent(page) {
  return page.evaluate(() => window.__fake.sent.slice());
}

export async function sentSince(page, mark) {
  return (await sent(page)).slice(mark);
}

export function mark(page) {
  return page.evaluate(() => window.__fake.sent.length);
}

// Audio in the fake loop recorder, and the page told so: Keep loop is ready.
export async function recordSomething(page) {
  await page.evaluate(async () => {
    window.__fake.state.recorder.record = true;
    window.__fake.recordAudio();
    await window.nativeZub.handleMessage('getLoopRecorder');
  });
  await page.waitForFunction(() => !document.querySelector('#keep-loop').disabled);
}

// Taps on the tempo screen's pad, `ms` apart on the page's clock.
export async function tapAlong(page, taps, ms) {
  await page.evaluate(([n, gap]) => {
    let t = 5000;
    const real = performance.now.bind(performance);
    performance.now = () => t;
    const pad = document.querySelector('#tap-along');
    for (let i = 0; i < n; i++) { pad.dispatchEvent(new PointerEvent('pointerdown', { button: 0 })); t += gap; }
    performance.now = real;
  }, [taps, ms]);
}
