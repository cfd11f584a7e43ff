// Drawing loops: a waveform from the engine's summary text, or a small piano
// roll from the loop's notes.

// The summary is a run of two-digit numbers, one per block of the loop
// (values up to about 90 for full-scale audio).
export function parseWaveform(text) {
  if (typeof text !== 'string' || text.length < 2) return [];
  const out = [];
  for (let i = 0; i + 1 < text.length; i += 2) {
    const v = Number(text.slice(i, i + 2));
    out.push(Number.isFinite(v) ? v : 0);
  }
  return out;
}

function fit(canvas) {
  const ratio = Math.min(2, window.devicePixelRatio || 1);
  const w = Math.max(1, Math.round(canvas.clientWidth * ratio)) || canvas.width;
  const h = Math.max(1, Math.round(canvas.clientHeight * ratio)) || canvas.height;
  if (canvas.width !== w) canvas.width = w;
  if (canvas.height !== h) canvas.height = h;
  const ctx = canvas.getContext('2d');
  ctx.clearRect(0, 0, w, h);
  return { ctx, w, h };
}

function styleOf(canvas, name, fallback) {
  return getComputedStyle(canvas).getPropertyValue(name).trim() || fallback;
}

export function drawWaveform(canvas, text) {
  const { ctx, w, h } = fit(canvas);
  const values = parseWaveform(text);
  const colour = styleOf(canvas, '--wave', '#7fd1b9');
  const mid = h / 2;
  ctx.fillStyle = colour;
  if (values.length === 0) {
    ctx.fillRect(0, mid - 0.5, w, 1);
    return;
  }
  const peak = Math.max(30, ...values);
  const step = w / values.length;
  ctx.beginPath();
  for (let i = 0; i < values.length; i++) {
    const a = Math.max(0.5, (values[i] / peak) * (mid - 2));
    ctx.rect(i * step, mid - a, Math.max(1, step - (step > 3 ? 1 : 0)), 2 * a);
  }
  ctx.fill();
}

// Notes are { time, note, length } in microseconds from the loop's start.
export function drawNotes(canvas, notes, lengthSeconds) {
  const { ctx, w, h } = fit(canvas);
  const list = Array.isArray(notes) ? notes.filter((n) => Number.isFinite(Number(n?.note))) : [];
  const totalUs = Math.max(1, Number(lengthSeconds) * 1e6 ||
    Math.max(1, ...list.map((n) => Number(n.time) + Number(n.length))));
  ctx.fillStyle = styleOf(canvas, '--grid', 'rgba(255,255,255,0.06)');
  for (let i = 1; i < 4; i++) ctx.fillRect(Math.round((w * i) / 4), 0, 1, h);
  if (list.length === 0) return;
  let lo = Math.min(...list.map((n) => Number(n.note)));
  let hi = Math.max(...list.map((n) => Number(n.note)));
  if (hi - lo < 12) {
    const pad = (12 - (hi - lo)) / 2;
    lo = Math.floor(lo - pad);
    hi = Math.ceil(hi + pad);
  }
  const rows = hi - lo + 1;
  const rowH = h / rows;
  ctx.fillStyle = styleOf(canvas, '--note', '#f0a23b');
  for (const n of list) {
    const x = (Number(n.time) / totalUs) * w;
    const width = Math.max(2, (Math.max(0, Number(n.length)) / totalUs) * w);
    const y = (hi - Number(n.note)) * rowH;
    ctx.fillRect(x, y + 0.5, Math.min(width, w - x), Math.max(1.5, rowH - 1));
  }
}

// A loop object of the engine: notes when it has any, else its waveform.
export function drawLoop(canvas, loop) {
  if (Array.isArray(loop?.notes) && loop.notes.length > 0) {
    drawNotes(canvas, loop.notes, loop.length_seconds);
    canvas.setAttribute('aria-label', `${loop.notes.length} notes`);
  } else {
    drawWaveform(canvas, loop?.waveform);
    canvas.setAttribute('aria-label', 'Waveform');
  }
}
