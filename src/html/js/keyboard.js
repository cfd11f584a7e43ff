// On-screen piano: mouse, touch and computer keys in the usual DAW layout.
import { send } from './bridge.js';

const KEY_LAYOUT = ['a', 'w', 's', 'e', 'd', 'f', 't', 'g', 'y', 'h', 'u', 'j', 'k'];
const BLACK = new Set([1, 3, 6, 8, 10]);
const NAMES = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];

export class Keyboard {
  constructor(root, octaveLabel) {
    this.root = root;
    this.octaveLabel = octaveLabel;
    this.octave = 4;
    this.held = new Set();
    this.keysDown = new Map();
    this.build();
    this.bindComputerKeys();
  }

  baseNote() {
    return 12 * (this.octave + 1);
  }

  build() {
    this.root.textContent = '';
    this.keys = new Map();
    for (let note = 48; note < 84; note++) {
      const el = document.createElement('button');
      el.type = 'button';
      el.className = BLACK.has(note % 12) ? 'key black' : 'key white';
      el.dataset.note = String(note);
      el.setAttribute('aria-label', `${NAMES[note % 12]}${Math.floor(note / 12) - 1}`);
      el.addEventListener('pointerdown', (e) => {
        e.preventDefault();
        el.setPointerCapture?.(e.pointerId);
        this.press(note);
      });
      const up = () => this.release(note);
      el.addEventListener('pointerup', up);
      el.addEventListener('pointercancel', up);
      el.addEventListener('keydown', (e) => {
        if ((e.key === ' ' || e.key === 'Enter') && !e.repeat) { e.preventDefault(); this.press(note); }
      });
      el.addEventListener('keyup', (e) => {
        if (e.key === ' ' || e.key === 'Enter') this.release(note);
      });
      this.root.appendChild(el);
      this.keys.set(note, el);
    }
  }

  bindComputerKeys() {
    window.addEventListener('keydown', (e) => {
      if (e.target instanceof HTMLInputElement || e.repeat || e.ctrlKey || e.metaKey || e.altKey) return;
      const k = e.key.toLowerCase();
      if (k === 'z' || k === 'x') {
        this.octave = Math.max(0, Math.min(8, this.octave + (k === 'z' ? -1 : 1)));
        this.octaveLabel.textContent = String(this.octave);
        return;
      }
      const i = KEY_LAYOUT.indexOf(k);
      if (i < 0) return;
      const note = this.baseNote() + i;
      this.keysDown.set(k, note);
      this.press(note);
    });
    window.addEventListener('keyup', (e) => {
      const k = e.key.toLowerCase();
      const note = this.keysDown.get(k);
      if (note === undefined) return;
      this.keysDown.delete(k);
      this.release(note);
    });
    window.addEventListener('blur', () => {
      for (const note of [...this.held]) this.release(note);
      this.keysDown.clear();
    });
  }

  press(note) {
    if (this.held.has(note)) return;
    this.held.add(note);
    this.show(note, true);
    send(`noteOn->${note}`);
  }

  release(note) {
    if (!this.held.has(note)) return;
    this.held.delete(note);
    this.show(note, false);
    send(`noteOff->${note}`);
  }

  // Also used for notes played on a MIDI keyboard.
  show(note, down) {
    this.keys.get(note)?.classList.toggle('down', down);
  }
}
