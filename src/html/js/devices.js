// The program's word on its devices: a banner naming each device that does
// not work and why, under "No audio output" when nothing can be heard. The
// program sends { devices: { audio_output, problems } } whenever that changes.
import { on } from './bridge.js';
import { el } from './ui.js';

let banner = null;

function show({ audio_output: output = true, problems = [] }) {
  if (!banner) {
    banner = el('div', { id: 'device-problems', role: 'alert' });
    Object.assign(banner.style, {
      position: 'fixed', left: '0', right: '0', bottom: '0', zIndex: '50', padding: '6px 12px',
      background: '#fdecea', color: '#6b0f0a', borderTop: '2px solid #b3261e', font: '14px/1.4 sans-serif',
    });
    document.body.append(banner);
  }
  banner.replaceChildren(
    ...(output ? [] : [el('strong', { text: 'No audio output' })]),
    ...problems.map((text) => el('div', { text })),
  );
  banner.hidden = output && problems.length === 0;
  document.body.dataset.audioOutput = output ? 'on' : 'off';
}

on('devices', (m) => show(m));
