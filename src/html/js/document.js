// The saved mark: which song is open and whether it has changes that are not
// saved yet. The program tells the song ("document") after every change, save
// and open; the project's own flag arrives with "project".
import { on } from './bridge.js';
import { $ } from './ui.js';

const song = { name: '', file: '', modified: false };

export function savedMark({ name, file, modified }) {
  if (!file) return modified ? { state: 'unsaved', text: 'New song · Unsaved' } : { state: 'new', text: 'New song' };
  return { state: modified ? 'unsaved' : 'saved', text: `${name} · ${modified ? 'Unsaved changes' : 'Saved'}` };
}

function show() {
  const mark = savedMark(song);
  const status = $('status');
  status.textContent = mark.text;
  status.dataset.saved = mark.state;
  status.title = song.file;
  document.body.classList.toggle('modified', song.modified);
}

on('document', (m) => {
  song.name = typeof m.name === 'string' ? m.name : '';
  song.file = typeof m.file === 'string' ? m.file : '';
  if (typeof m.modified === 'boolean') song.modified = m.modified;
  show();
});
on('project', (m) => {
  if (typeof m.modified_since_last_save !== 'boolean') return;
  song.modified = m.modified_since_last_save;
  show();
});
