// Choosing an instrument: the catalogue by group, the current instrument,
// the loading indicator and the live input's level meter.
import { on, send } from './bridge.js';
import { $, el, announce, openDialog, closeDialog, logoImage, assetUrl, cssColour, inkFor, setClass, setAttr } from './ui.js';

const INPUT_FIRST_ID = 500;
const INPUT_LAST_ID = 599;
const TYPE_INPUT = 2;
const CONTROL_DRUMPADS = 1;

// "res/instruments/00_essentials" is shown as "Essentials".
export function groupTitle(name) {
  if (/inputdevices[\\/]*$/i.test(String(name || ''))) return 'Live Inputs';
  const last = String(name || '').replace(/[\\/]+$/, '').split(/[\\/]/).pop() || '';
  const words = last.replace(/^\d+[_\s-]*/, '').replace(/[_-]+/g, ' ').trim();
  if (!words) return 'Instruments';
  return words.replace(/\b\w/g, (c) => c.toUpperCase());
}

export function isInputId(id) {
  return id >= INPUT_FIRST_ID && id <= INPUT_LAST_ID;
}

export class Instruments {
  constructor(keyboard) {
    this.keyboard = keyboard;
    this.current = null;
    this.loading = false;
    this.groups = [];
    this.level = 0; // last input level, RMS
    this.shownLevel = -1;
    this.meterFrame = 0;
    this.pending = null; // id asked for while loading

    $('instrument-button').addEventListener('click', () => this.open());
    on('instrument', (m) => this.onInstrument(m));
    on('instrument_collection', (m) => this.onCollection(m));
    on('input_vu_meter', (m) => this.onLevel(m));
  }

  open() {
    this.render();
    openDialog('instrument-picker');
    const current = $('instrument-groups').querySelector('[aria-current="true"]');
    current?.focus();
  }

  hide() {
    closeDialog('instrument-picker');
  }

  async choose(id) {
    this.hide();
    if (this.current && this.current.id === id && !this.loading) return;
    this.pending = id;
    await send(`loadInstrument:${id}`);
    // A load without a background part (synth, input) may not report
    // loading at all: ask for the result.
    if (!this.loading) send('getInstrument');
  }

  onInstrument(m) {
    if ('loading' in m) {
      this.setLoading(Number(m.loading) === 1);
      if (Number(m.loading) === 0) send('getInstrument');
      return;
    }
    if (typeof m.id !== 'number' && typeof m.name !== 'string') return;
    this.current = {
      id: Number(m.id) || 0,
      name: String(m.name ?? ''),
      description: String(m.description ?? ''),
      logo: String(m.logo ?? ''),
      type: Number(m.instrument_type) || 0,
      control: Number(m.control_type) || 0,
    };
    this.pending = null;
    this.showCurrent();
  }

  setLoading(loading) {
    this.loading = loading;
    $('instrument-loading').hidden = !loading;
    $('instrument-button').setAttribute('aria-busy', String(loading));
    $('instrument-button').classList.toggle('loading', loading);
    if (loading) announce('Loading instrument');
  }

  showCurrent() {
    const c = this.current;
    if (!c) return;
    $('instrument-name').textContent = c.name || `Instrument ${c.id}`;
    $('instrument-button').setAttribute('aria-label', `Instrument: ${c.name || c.id}. Choose another`);
    const logo = $('instrument-logo');
    const url = assetUrl(c.logo);
    if (url) {
      logo.hidden = false;
      logo.onerror = () => { logo.hidden = true; };
      if (logo.getAttribute('src') !== url) logo.src = url;
    } else {
      logo.hidden = true;
    }
    const live = c.type === TYPE_INPUT || isInputId(c.id);
    $('input-meter').hidden = !live;
    if (!live) this.level = 0;
    this.keyboard.setMode(c.control === CONTROL_DRUMPADS ? 'pads' : 'piano');
    if (!this.loading) announce(`Instrument ${c.name}`);
    this.markCurrent();
  }

  onCollection(m) {
    this.groups = Array.isArray(m.instrument_groups) ? m.instrument_groups
      .map((g) => g?.instrument_group ?? g)
      .filter((g) => g && Array.isArray(g.instruments)) : [];
    this.render();
  }

  render() {
    const root = $('instrument-groups');
    root.textContent = '';
    $('instruments-empty').hidden = this.groups.length > 0;
    for (const g of this.groups) {
      const title = groupTitle(g.name);
      const head = cssColour(g.colour_header);
      const headBorder = cssColour(g.colour_header_border);
      const tile = cssColour(g.colour_instrument);
      const tileBorder = cssColour(g.colour_instrument_border);
      const section = el('section', { class: 'group-section', 'aria-label': title });
      // The group's colours with whichever ink reads on them.
      if (tile) {
        section.style.setProperty('--tile', tile);
        section.style.setProperty('--tile-ink', inkFor(tile));
      }
      if (tileBorder) section.style.setProperty('--tile-border', tileBorder);
      const header = el('h3', { class: 'group-head' }, [logoImage(g.logo, 'group-logo', title), el('span', { text: title })]);
      if (head) {
        header.style.setProperty('--head', head);
        header.style.setProperty('--head-ink', inkFor(head));
      }
      if (headBorder) header.style.setProperty('--head-border', headBorder);
      const list = el('ul', { class: 'instrument-tiles' });
      for (const raw of g.instruments) {
        const inst = raw?.instrument ?? raw;
        if (!inst || inst.id === undefined) continue;
        const id = Number(inst.id);
        const name = String(inst.name ?? `Instrument ${id}`);
        const button = el('button', {
          type: 'button', class: 'instrument-tile',
          title: inst.description || name,
          'aria-description': inst.description || undefined,
          dataset: { id: String(id) },
          onclick: () => this.choose(id),
        }, [logoImage(inst.logo, 'tile-logo', name), el('span', { class: 'tile-name', text: name }),
          isInputId(id) ? el('span', { class: 'tile-kind', text: 'Live input' }) : null]);
        list.append(el('li', {}, button));
      }
      section.append(header, list);
      root.append(section);
    }
    this.markCurrent();
  }

  markCurrent() {
    for (const b of $('instrument-groups').querySelectorAll('.instrument-tile')) {
      const current = this.current && Number(b.dataset.id) === this.current.id;
      if (current) b.setAttribute('aria-current', 'true');
      else b.removeAttribute('aria-current');
    }
  }

  // Levels arrive up to twenty times a second from the audio thread; only
  // the next animation frame draws them.
  onLevel(m) {
    const v = Number(m.value);
    if (!Number.isFinite(v)) return;
    this.level = Math.max(0, v);
    if (!this.meterFrame) this.meterFrame = requestAnimationFrame(() => this.drawMeter());
  }

  drawMeter() {
    this.meterFrame = 0;
    const db = this.level > 0 ? Math.max(-60, Math.min(0, 20 * Math.log10(this.level))) : -60;
    const fraction = (db + 60) / 60;
    if (Math.abs(fraction - this.shownLevel) < 0.005) return;
    this.shownLevel = fraction;
    const fill = $('input-meter-fill');
    fill.style.transform = `scaleX(${fraction.toFixed(3)})`;
    setClass(fill, 'hot', db > -6);
    const meter = $('input-meter');
    setAttr(meter, 'aria-valuenow', String(Math.round(db)));
    setAttr(meter, 'aria-valuetext', db <= -60 ? 'silent' : `${Math.round(db)} dB`);
  }
}
