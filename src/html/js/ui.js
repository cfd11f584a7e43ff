// Small DOM helpers shared by the screens.

export const $ = (id) => document.getElementById(id);

export function el(tag, props = {}, children = []) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(props)) {
    if (v === undefined || v === null || v === false) continue;
    if (k === 'class') node.className = v;
    else if (k === 'text') node.textContent = v;
    else if (k === 'dataset') Object.assign(node.dataset, v);
    else if (k.startsWith('on')) node.addEventListener(k.slice(2), v);
    else if (k in node && typeof v !== 'string') node[k] = v;
    else node.setAttribute(k, v === true ? '' : String(v));
  }
  for (const c of [].concat(children)) {
    if (c !== null && c !== undefined && c !== false) node.append(c);
  }
  return node;
}

export function announce(text) {
  const a = $('announcer');
  a.textContent = '';
  // A fresh text node so that screen readers announce a repeat as well.
  requestAnimationFrame(() => { a.textContent = text; });
}

// Dialogs: one place that opens and closes them, remembers where focus was,
// and tells the owner when the user dismissed one (Esc, ×, backdrop).
const closeHandlers = new Map();
const returnFocus = new Map();

export function onDialogClose(id, fn) {
  closeHandlers.set(id, fn);
}

export function openDialog(id) {
  const d = $(id);
  if (!d || d.open) return;
  returnFocus.set(id, document.activeElement);
  d.showModal();
  const first = d.querySelector('[autofocus], .dialog-focus') ||
    d.querySelector('button:not([disabled]):not(.close), input, select, a[href]') ||
    d.querySelector('button');
  first?.focus();
}

export function closeDialog(id) {
  const d = $(id);
  if (!d || !d.open) return;
  d.close();
}

export function isDialogOpen(id) {
  return !!$(id)?.open;
}

export function anyDialogOpen() {
  return !!document.querySelector('dialog[open]');
}

export function initDialogs() {
  for (const d of document.querySelectorAll('dialog')) {
    d.addEventListener('close', () => {
      const back = returnFocus.get(d.id);
      returnFocus.delete(d.id);
      const other = document.querySelector('dialog[open]');
      if (!other && back && document.contains(back) && typeof back.focus === 'function') back.focus();
      closeHandlers.get(d.id)?.();
    });
    d.addEventListener('click', (e) => {
      if (e.target.closest('[data-close]')) { d.close(); return; }
      // A click on the backdrop lands on the dialog element itself.
      if (e.target === d) {
        const r = d.getBoundingClientRect();
        const inside = e.clientX >= r.left && e.clientX <= r.right && e.clientY >= r.top && e.clientY <= r.bottom;
        if (!inside) d.close();
      }
    });
  }
}

// A destructive button that asks once more in place: the first press turns it
// into "Confirm" and "Keep", with focus on "Keep"; it falls back by itself.
export function confirmInPlace(slot, button, question, onConfirm) {
  const original = [...slot.childNodes];
  let timer = 0;
  const restore = (refocus) => {
    clearTimeout(timer);
    slot.replaceChildren(...original);
    if (refocus) button.focus();
  };
  const yes = el('button', { type: 'button', class: 'danger', text: 'Confirm',
    'aria-label': question, onclick: () => { restore(false); onConfirm(); } });
  const no = el('button', { type: 'button', text: 'Keep', onclick: () => restore(true) });
  const label = el('span', { class: 'confirm-text', text: question, 'aria-hidden': 'true' });
  slot.replaceChildren(label, yes, no);
  no.focus();
  timer = setTimeout(() => { if (slot.contains(no)) restore(document.activeElement === no || document.activeElement === yes); }, 6000);
}

export function isTyping(target) {
  return target instanceof HTMLInputElement || target instanceof HTMLTextAreaElement ||
    target instanceof HTMLSelectElement || target?.isContentEditable;
}

// Paths from the engine name files in the content folder, relative to the
// program's working folder ("res/...") or to a page in the build tree
// ("../../res/..."). The program tells the page where its content folder is
// (window.native_res_url), which holds wherever it is installed; without
// that the build tree's layout is assumed. Input device logos come as
// "../..//res/...": runs of slashes are folded, or the path would start at
// the server root.
export function assetUrl(path) {
  if (typeof path !== 'string' || path === '') return '';
  if (/^[a-z][a-z0-9+.-]*:/i.test(path)) return path;
  const clean = path.replace(/\/{2,}/g, '/');
  const inContent = clean.replace(/^(\.\.?\/)+/, '');
  const base = window.native_res_url;
  if (typeof base === 'string' && base !== '' && inContent.startsWith('res/')) {
    return base + inContent.slice(4).split('/').map(encodeURIComponent).join('/');
  }
  if (/^(\/|\.\.?\/)/.test(clean)) return clean;
  return '../../' + clean;
}

// An image that quietly gives way to a placeholder when the file is missing.
export function logoImage(path, className, fallbackText) {
  const url = assetUrl(path);
  const badge = el('span', { class: `${className} badge`, 'aria-hidden': 'true', text: initials(fallbackText) });
  if (!url) return badge;
  const img = el('img', { class: className, alt: '', src: url, loading: 'lazy', decoding: 'async' });
  img.addEventListener('error', () => img.replaceWith(badge), { once: true });
  return img;
}

export function initials(text) {
  const words = String(text || '?').split(/[\s_-]+/).filter(Boolean);
  return (words.length > 1 ? words[0][0] + words[1][0] : (words[0] || '?').slice(0, 2)).toUpperCase();
}

export function cssColour(value) {
  if (typeof value !== 'string') return '';
  const v = value.trim();
  if (/^[0-9a-f]{3}([0-9a-f]{3})?$/i.test(v)) return '#' + v;
  return v && CSS.supports('color', v) ? v : '';
}

// WCAG relative luminance of a CSS colour; null when it cannot be read.
export function luminance(colour) {
  const ctx = document.createElement('canvas').getContext('2d');
  ctx.fillStyle = '#010203';
  ctx.fillStyle = colour;
  const v = ctx.fillStyle;
  if (v === '#010203' && colour.toLowerCase() !== '#010203') return null;
  const rgb = v.startsWith('#') ? [1, 3, 5].map((i) => parseInt(v.slice(i, i + 2), 16)) : (v.match(/[\d.]+/g) || []).slice(0, 3).map(Number);
  const f = (c) => { const x = c / 255; return x <= 0.03928 ? x / 12.92 : ((x + 0.055) / 1.055) ** 2.4; };
  return 0.2126 * f(rgb[0]) + 0.7152 * f(rgb[1]) + 0.0722 * f(rgb[2]);
}

export const DARK_INK = '#111318';
export const LIGHT_INK = '#ffffff';

// The text colour that reads best on a background: black or white.
export function inkFor(background) {
  const l = luminance(background);
  if (l === null) return '';
  const onDark = (1.05) / (l + 0.05);
  const onLight = (l + 0.05) / (luminance(DARK_INK) + 0.05);
  return onLight >= onDark ? DARK_INK : LIGHT_INK;
}

// A short light-up that runs on the compositor (no layout).
export function flash(node, colour = 'var(--accent)') {
  if (!node?.animate) return;
  node.animate([{ backgroundColor: colour, opacity: 1 }, {}], { duration: 180, easing: 'ease-out' });
}

// Writes only what changed, so a stream of equal states touches nothing.
export function setText(node, text) {
  if (node && node.textContent !== text) node.textContent = text;
}

export function setAttr(node, name, value) {
  if (node && node.getAttribute(name) !== value) node.setAttribute(name, value);
}

export function setClass(node, name, on) {
  if (node && node.classList.contains(name) !== on) node.classList.toggle(name, on);
}
