// Playing: the on-screen piano and drum pads, with mouse, touch and computer
// keys in the usual DAW layout, and notes from a MIDI keyboard shown on them.
import { send } from './bridge.js';
import { $, el, isTyping, anyDialogOpen } from './ui.js';

// Computer keys from the piano's base note upwards (white row plus black row).
export const PIANO_KEYS = ['a', 'w', 's', 'e', 'd', 'f', 't', 'g', 'y', 'h', 'u', 'j', 'k', 'o', 'l', 'p', ';'];
// Pads from the bottom row up, as on a drum machine: Z X C N play 36 to 39.
// R, V, B and M stay free for record, keep, tap and the metronome.
export const PAD_KEYS = ['z', 'x', 'c', 'n', 'a', 's', 'd', 'f', 'q', 'w', 'e', 't', '1', '2', '3', '4'];
const PAD_BASE = 36;
const PAD_NAMES = ['Kick', 'Side stick', 'Snare', 'Clap', 'Snare 2', 'Low tom', 'Closed hat', 'Low tom 2',
  'Pedal hat', 'Mid tom', 'Open hat', 'Mid tom 2', 'High tom', 'Crash', 'High tom 2', 'Ride'];
const BLACK = new Set([1, 3, 6, 8, 10]);
const NAMES = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];
const MIN_OCTAVE = 0;
const MAX_OCTAVE = 8;
const SHOWN_OCTAVES = 3;

export function noteName(note) {
  return `${NAMES[note % 12]}${Math.floor(note / 12) - 1}`;
}

export class Keyboard {
  constructor() {
    this.root = $('keyboard');
    this.padsRoot = $('pads');
    this.octave = 4;
    this.mode = 'piano';
    this.held = new Set(); // notes this page holds down
    this.midi = new Set(); // notes held on a MIDI keyboard
    this.keysDown = new Map(); // computer key -> note
    this.pointerNotes = new Map(); // pointer id -> note
    this.keys = new Map(); // note -> element
    this.build();
    this.buildPads();
    this.bind();
  }

  baseNote() {
    return 12 * (this.octave + 1);
  }

  firstShown() {
    return 12 * this.octave;
  }

  build() {
    this.root.textContent = '';
    this.keys = new Map();
    const first = this.firstShown();
    const last = Math.min(127, first + 12 * SHOWN_OCTAVES);
    for (let note = first; note <= last; note++) {
      const black = BLACK.has(note % 12);
      const keyIndex = note - this.baseNote();
      const letter = keyIndex >= 0 && keyIndex < PIANO_KEYS.length ? PIANO_KEYS[keyIndex].toUpperCase() : '';
      const key = el('button', {
        type: 'button',
        class: black ? 'key black' : 'key white',
        'aria-label': noteName(note),
        'aria-pressed': 'false',
        dataset: { note: String(note) },
      }, letter ? el('span', { class: 'key-letter', 'aria-hidden': 'true', text: letter }) : []);
      if (note % 12 === 0 && !black) key.append(el('span', { class: 'key-name', 'aria-hidden': 'true', text: noteName(note) }));
      this.root.append(key);
      this.keys.set(note, key);
      this.paint(note);
    }
  }

  buildPads() {
    this.padsRoot.textContent = '';
    this.pads = new Map();
    // Rows top to bottom, so the bottom row holds the lowest notes.
    for (let row = 3; row >= 0; row--) {
      for (let col = 0; col < 4; col++) {
        const i = row * 4 + col;
        const note = PAD_BASE + i;
        const pad = el('button', {
          type: 'button', class: 'pad', 'aria-pressed': 'false',
          'aria-label': `${PAD_NAMES[i]} pad, key ${PAD_KEYS[i].toUpperCase()}`,
          dataset: { note: String(note) },
        }, [el('span', { class: 'pad-name', text: PAD_NAMES[i] }), el('span', { class: 'key-letter', text: PAD_KEYS[i].toUpperCase() })]);
        this.padsRoot.append(pad);
        this.pads.set(note, pad);
      }
    }
  }

  setMode(mode) {
    if (mode === this.mode) return;
    this.releaseAll();
    this.mode = mode;
    const pads = mode === 'pads';
    this.root.hidden = pads;
    this.padsRoot.hidden = !pads;
    $('octave-down').closest('.octave-controls').hidden = pads;
    $('keys-hint').textContent = pads
      ? 'Keys 1–4, Q W E T, A–F and Z X C N play the pads'
      : 'Keys A W S E D F T G Y H U J K O L P ; play, Z / X shift the octave';
  }

  shiftOctave(delta) {
    const next = Math.max(MIN_OCTAVE, Math.min(MAX_OCTAVE, this.octave + delta));
    if (next === this.octave) return;
    // Keys held with the computer keep sounding until released; only the map moves.
    this.octave = next;
    $('octave').textContent = String(next);
    this.build();
  }

  bind() {
    const surface = (root) => {
      root.addEventListener('pointerdown', (e) => {
        const target = e.target.closest('[data-note]');
        if (!target || e.button > 0) return;
        e.preventDefault();
        root.setPointerCapture?.(e.pointerId);
        const note = Number(target.dataset.note);
        this.pointerNotes.set(e.pointerId, note);
        this.press(note);
      });
      // Sliding over the keys plays each one in turn.
      root.addEventListener('pointermove', (e) => {
        if (!this.pointerNotes.has(e.pointerId)) return;
        const hit = document.elementFromPoint(e.clientX, e.clientY)?.closest('[data-note]');
        if (!hit || !root.contains(hit)) return;
        const note = Number(hit.dataset.note);
        const old = this.pointerNotes.get(e.pointerId);
        if (note === old) return;
        this.pointerNotes.set(e.pointerId, note);
        this.release(old);
        this.press(note);
      });
      const up = (e) => {
        const note = this.pointerNotes.get(e.pointerId);
        if (note === undefined) return;
        this.pointerNotes.delete(e.pointerId);
        this.release(note);
      };
      root.addEventListener('pointerup', up);
      root.addEventListener('pointercancel', up);
      root.addEventListener('lostpointercapture', up);
      // Space or Enter on a focused key holds it like a finger.
      root.addEventListener('keydown', (e) => {
        const target = e.target.closest('[data-note]');
        if (!target || (e.key !== ' ' && e.key !== 'Enter')) return;
        e.preventDefault();
        e.stopPropagation();
        if (!e.repeat) this.press(Number(target.dataset.note));
      });
      root.addEventListener('keyup', (e) => {
        const target = e.target.closest('[data-note]');
        if (!target || (e.key !== ' ' && e.key !== 'Enter')) return;
        e.stopPropagation();
        this.release(Number(target.dataset.note));
      });
      root.addEventListener('click', (e) => e.preventDefault());
    };
    surface(this.root);
    surface(this.padsRoot);
    $('octave-down').addEventListener('click', () => this.shiftOctave(-1));
    $('octave-up').addEventListener('click', () => this.shiftOctave(1));

    window.addEventListener('keydown', (e) => this.onKeyDown(e));
    window.addEventListener('keyup', (e) => this.onKeyUp(e));
    window.addEventListener('blur', () => this.releaseAll());
    document.addEventListener('visibilitychange', () => { if (document.hidden) this.releaseAll(); });
  }

  // Computer keys play while the focus is not in a text field or a dialog.
  acceptsKeys(e) {
    if (e.ctrlKey || e.metaKey || e.altKey || isTyping(e.target)) return false;
    if (anyDialogOpen()) return false;
    return true;
  }

  onKeyDown(e) {
    if (!this.acceptsKeys(e)) return;
    const k = e.key.length === 1 ? e.key.toLowerCase() : e.key;
    if (e.repeat) {
      if (this.keysDown.has(k)) e.preventDefault();
      return;
    }
    if (this.mode === 'piano' && (k === 'z' || k === 'x')) {
      e.preventDefault();
      this.shiftOctave(k === 'z' ? -1 : 1);
      return;
    }
    const keys = this.mode === 'pads' ? PAD_KEYS : PIANO_KEYS;
    const i = keys.indexOf(k);
    if (i < 0 || this.keysDown.has(k)) return;
    e.preventDefault();
    const note = this.mode === 'pads' ? PAD_BASE + i : this.baseNote() + i;
    if (note > 127) return;
    this.keysDown.set(k, note);
    this.press(note);
  }

  onKeyUp(e) {
    const k = e.key.length === 1 ? e.key.toLowerCase() : e.key;
    const note = this.keysDown.get(k);
    if (note === undefined) return;
    this.keysDown.delete(k);
    this.release(note);
  }

  // A note held twice (computer key and mouse) sounds once and stops on the
  // last release.
  holders(note) {
    let n = 0;
    for (const v of this.keysDown.values()) if (v === note) n++;
    for (const v of this.pointerNotes.values()) if (v === note) n++;
    return n;
  }

  press(note) {
    if (this.held.has(note)) return;
    this.held.add(note);
    this.paint(note);
    this.showHeld();
    send(`noteOn->${note}`);
  }

  release(note) {
    if (!this.held.has(note) || this.holders(note) > 0) return;
    this.held.delete(note);
    this.paint(note);
    this.showHeld();
    send(`noteOff->${note}`);
  }

  releaseAll() {
    this.keysDown.clear();
    this.pointerNotes.clear();
    for (const note of [...this.held]) this.release(note);
  }

  // Notes played on a MIDI keyboard ("keyboard" messages).
  showMidi(note, down) {
    if (!Number.isInteger(note) || note < 0 || note > 127) return;
    if (down) this.midi.add(note);
    else this.midi.delete(note);
    this.paint(note);
    this.showHeld();
  }

  paint(note) {
    const down = this.held.has(note);
    const midi = this.midi.has(note);
    for (const node of [this.keys.get(note), this.pads?.get(note)]) {
      if (!node) continue;
      node.classList.toggle('down', down);
      node.classList.toggle('midi', midi);
      node.setAttribute('aria-pressed', String(down || midi));
    }
  }

  showHeld() {
    const all = [...new Set([...this.held, ...this.midi])].sort((a, b) => a - b);
    const names = this.mode === 'pads'
      ? all.map((n) => (n >= PAD_BASE && n < PAD_BASE + 16 ? PAD_NAMES[n - PAD_BASE] : noteName(n)))
      : all.map(noteName);
    $('held-notes').textContent = names.join(' ');
  }
}
