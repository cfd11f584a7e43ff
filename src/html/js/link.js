// Ableton Link: the switch beside the tempo (on or off, and how many peers)
// and the Link settings. The engine's { "link" : { enabled, start_stop_sync,
// peers, tempo } } is the one source of state: it answers every switch and
// getLink, and is pushed whenever the peers or the session's tempo change.
import { on, send, sendJson } from './bridge.js';
import { $, announce, openDialog, setAttr, setClass, setText } from './ui.js';
import { formatBpm } from './timekeeping.js';

export function peersText(peers) {
  return `${peers} ${peers === 1 ? 'peer' : 'peers'}`;
}

export class Link {
  // tempoChanged(bpm): the session's tempo differs from the song's shown one,
  // so the song is asked for again.
  constructor({ songBpm, tempoChanged }) {
    this.songBpm = songBpm;
    this.tempoChanged = tempoChanged;
    this.state = null; // nothing heard from the engine yet
    $('link').addEventListener('click', () => this.setEnabled(!this.state?.enabled));
    $('link-enabled').addEventListener('change', (e) => this.setEnabled(e.target.checked));
    $('link-start-stop').addEventListener('change', (e) => this.switch({ start_stop_sync: e.target.checked }));
    on('link', (m) => this.onState(m));
  }

  open() {
    openDialog('settings');
    return send('getLink');
  }

  setEnabled(enabled) {
    return this.switch({ enabled });
  }

  // The reply (the new state) comes back through the page's messages.
  async switch(change) {
    await sendJson({ link: change });
  }

  onState(m) {
    if (typeof m.enabled !== 'boolean') return;
    const before = this.state;
    const peers = Number.isInteger(m.peers) && m.peers >= 0 ? m.peers : 0;
    const tempo = Number(m.tempo);
    this.state = { enabled: m.enabled, startStopSync: m.start_stop_sync === true, peers, tempo };
    this.show();
    if (before && before.enabled !== m.enabled) announce(m.enabled ? `Link on, ${peersText(peers)}` : 'Link off');
    else if (before && m.enabled && before.peers !== peers) announce(`Link: ${peersText(peers)}`);
    if (m.enabled && Number.isFinite(tempo) && tempo > 0 && Math.abs(tempo - this.songBpm()) > 0.005) this.tempoChanged(tempo);
  }

  show() {
    const { enabled, startStopSync, peers, tempo } = this.state;
    const button = $('link');
    setAttr(button, 'aria-pressed', String(enabled));
    setClass(button, 'on', enabled);
    const count = $('link-peers');
    count.hidden = !enabled;
    setText(count, String(peers));
    setText($('link-peers-text'), enabled ? peersText(peers) : 'off');
    $('link-enabled').checked = enabled;
    $('link-start-stop').checked = startStopSync;
    setText($('link-status'), enabled
      ? `On: ${peersText(peers)}, the session plays at ${formatBpm(tempo)} bpm.`
      : 'Off: Motifo keeps its own time and uses no network.');
  }
}
