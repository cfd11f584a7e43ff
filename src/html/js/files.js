// Files: new song, save, render to a file, and a render to the page that
// arrives as "wave" messages and is offered as a WAV download.
import { on, send, callNative } from './bridge.js';
import { $, announce, openDialog, closeDialog } from './ui.js';

const HEADER_BYTES = 44;
const NO_AUDIO_MS = 2000;

export function base64ToBytes(text) {
  const bin = atob(text);
  const out = new Uint8Array(bin.length);
  for (let i = 0; i < bin.length; i++) out[i] = bin.charCodeAt(i);
  return out;
}

// The data size of a canonical 44-byte header, or null.
export function wavDataSize(bytes) {
  if (bytes.length < HEADER_BYTES) return null;
  const tag = (o) => String.fromCharCode(bytes[o], bytes[o + 1], bytes[o + 2], bytes[o + 3]);
  if (tag(0) !== 'RIFF' || tag(8) !== 'WAVE') return null;
  return new DataView(bytes.buffer, bytes.byteOffset, bytes.length).getUint32(40, true);
}

export class Files {
  constructor({ canRender, onNew }) {
    this.canRender = canRender; // () => reason text or ''
    this.onNew = onNew;
    this.chunks = [];
    this.received = 0;
    this.expected = 0;
    this.rendering = false;
    this.url = '';
    this.progressFrame = 0;
    this.silenceTimer = 0;
    on('wave', (m) => this.onWave(m));
    $('render-dialog').addEventListener('close', () => this.discard());
  }

  async newSong() {
    const reply = await send('discardChangesConfirmation');
    let ok = false;
    try { ok = JSON.parse(reply)?.project?.discard_confirm === true; } catch { ok = false; }
    if (!ok) return false;
    await send('clearProject');
    await this.onNew();
    announce('New song');
    return true;
  }

  // The program asks for a name where needed and tells the page the
  // song's saved state afterwards ("document").
  async save() {
    await callNative('save');
  }

  async saveAs() {
    await callNative('saveAs');
  }

  async open() {
    await callNative('open');
  }

  async renderToFile() {
    await callNative('render');
  }

  async renderToPage() {
    this.discard();
    const reason = this.canRender();
    $('render-download').hidden = true;
    $('render-audio').hidden = true;
    $('render-progress').value = 0;
    openDialog('render-dialog');
    if (reason) {
      $('render-text').textContent = reason;
      $('render-progress').hidden = true;
      return;
    }
    $('render-progress').hidden = false;
    $('render-text').textContent = 'Rendering…';
    this.rendering = true;
    this.chunks = [];
    this.received = 0;
    this.expected = 0;
    clearTimeout(this.silenceTimer);
    // The messages may arrive before or after the call returns.
    this.silenceTimer = setTimeout(() => {
      if (this.rendering && this.chunks.length === 0) {
        this.rendering = false;
        $('render-text').textContent = 'Nothing was rendered. Keep a loop in the first idea, then try again.';
        $('render-progress').hidden = true;
      }
    }, NO_AUDIO_MS);
    await send('render');
  }

  onWave(m) {
    if (!this.rendering) return;
    if (typeof m.data === 'string') {
      let bytes;
      try { bytes = base64ToBytes(m.data); } catch { return; }
      if (this.chunks.length === 0) {
        const size = wavDataSize(bytes);
        this.expected = size === null ? 0 : size + HEADER_BYTES;
      }
      this.chunks.push(bytes);
      this.received += bytes.length;
      if (!this.progressFrame) this.progressFrame = requestAnimationFrame(() => this.showProgress());
    }
    if (m.end === true) this.finish();
  }

  showProgress() {
    this.progressFrame = 0;
    if (!this.rendering) return;
    const fraction = this.expected ? Math.min(1, this.received / this.expected) : 0;
    $('render-progress').value = fraction;
    $('render-text').textContent = `Rendering… ${Math.round(fraction * 100)} %`;
  }

  finish() {
    this.rendering = false;
    clearTimeout(this.silenceTimer);
    const blob = new Blob(this.chunks, { type: 'audio/wav' });
    this.chunks = [];
    this.url = URL.createObjectURL(blob);
    const seconds = Math.max(0, (blob.size - HEADER_BYTES) / (44100 * 4));
    const link = $('render-download');
    link.href = this.url;
    link.download = 'motifo-render.wav';
    link.hidden = false;
    const audio = $('render-audio');
    audio.src = this.url;
    audio.hidden = false;
    $('render-progress').value = 1;
    $('render-text').textContent = `Your song is ready: ${seconds.toFixed(1)} seconds, ${(blob.size / 1048576).toFixed(1)} MB.`;
    link.focus();
    announce('Render finished');
  }

  discard() {
    if (this.rendering) return;
    const audio = $('render-audio');
    audio.pause();
    audio.removeAttribute('src');
    if (this.url) URL.revokeObjectURL(this.url);
    this.url = '';
  }

  hideRender() {
    closeDialog('render-dialog');
  }
}
