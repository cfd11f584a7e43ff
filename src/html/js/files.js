// Files: the window's document commands (new, open, save, save as) and the
// two exports to WAV, which the window writes through its own file chooser
// and reports as "render" messages: started, progress, the file, or why not.
import { on, send, callNative } from './bridge.js';
import { $, announce, openDialog, closeDialog } from './ui.js';

const WHAT = {
  idea: { title: 'Export idea as WAV', noun: 'idea' },
  song: { title: 'Export song as WAV', noun: 'song' },
};

export function fileName(path) {
  return String(path).split(/[\\/]/).pop();
}

export function folderName(path) {
  const parts = String(path).split(/[\\/]/);
  parts.pop();
  return parts.join('/') || '/';
}

export class Files {
  // canExport(what) gives the reason nothing can be exported yet, or ''.
  constructor({ canExport }) {
    this.canExport = canExport;
    on('render', (m) => this.onRender(m));
    on('song_file', (m) => this.onSongFile(m));
  }

  // Each runs in the window after this call returns; the window asks about
  // unsaved changes and file names itself.
  command(name) {
    return callNative('command', name);
  }

  async exportWav(what) {
    const reason = this.canExport(what);
    if (reason) {
      this.showDialog(what, reason, false);
      return;
    }
    await this.command(what === 'song' ? 'exportSong' : 'exportIdea');
  }

  // Saving and opening run beside the music; the page shows how far they are.
  onSongFile(m) {
    const progress = $('song-file-progress');
    const working = m.state === 'saving' || m.state === 'opening';
    progress.hidden = !working;
    progress.setAttribute('aria-label', m.state === 'opening' ? 'Opening the song' : 'Saving the song');
    if (typeof m.fraction === 'number') progress.value = m.fraction;
    else if (working) progress.removeAttribute('value');
    if (m.state === 'saving') {
      $('status').textContent = typeof m.fraction === 'number' ? `Saving… ${Math.round(m.fraction * 100)} %` : 'Saving…';
    } else if (m.state === 'opening') {
      $('status').textContent = 'Opening…';
    } else if (m.state === 'save_failed') {
      $('status').textContent = 'Not saved';
      announce('The song could not be saved');
    } else {
      if (m.state === 'saved') announce('Song saved');
      send('getProject'); // the unsaved mark as it now stands
    }
  }

  showDialog(what, text, busy) {
    const w = WHAT[what] || WHAT.song;
    $('render-title').textContent = w.title;
    $('render-text').textContent = text;
    $('render-progress').hidden = !busy;
    openDialog('render-dialog');
  }

  onRender(m) {
    const what = WHAT[m.what] ? m.what : 'song';
    const noun = WHAT[what].noun;
    if ('cancelled' in m) {
      closeDialog('render-dialog');
    } else if (typeof m.started === 'string') {
      $('render-progress').value = 0;
      this.showDialog(what, `Writing the ${noun} to ${fileName(m.started)}…`, true);
    } else if (m.progress !== undefined) {
      const fraction = Math.max(0, Math.min(1, Number(m.progress) || 0));
      $('render-progress').value = fraction;
      $('render-text').textContent = `Writing the ${noun}… ${Math.round(fraction * 100)} %`;
    } else if (typeof m.file === 'string') {
      $('render-progress').value = 1;
      const text = `Saved the ${noun} as ${fileName(m.file)} in ${folderName(m.file)}.`;
      this.showDialog(what, text, false);
      $('render-text').dataset.file = m.file;
      announce(text);
    } else if (typeof m.error === 'string') {
      this.showDialog(what, m.error, false);
      announce(m.error);
    }
  }
}
