// The song's Play and Stop (Space). Stop leaves no idea playing (its loops
// fade out) and silences the click and the loop recorder; Play brings the
// idea that played last back on the next bar. The beat light and the
// playhead rest while the song is stopped.
import { on, send } from './bridge.js';
import { $, announce, setAttr, setClass, setText } from './ui.js';

export class Transport {
  // usable(): whether the song can be played from here (the ideas screen,
  // with at least one idea).
  constructor({ time, loopRecorder, usable }) {
    this.time = time;
    this.loopRecorder = loopRecorder;
    this.usable = usable;
    this.stopped = false;
    $('transport').addEventListener('click', () => this.toggle());
    // Recording starts the song again.
    loopRecorder.beforeRecord = () => (this.stopped ? this.toggle() : undefined);
    on('idea_collection', (m) => {
      if (typeof m.stopped === 'boolean') this.stopped = m.stopped;
      this.show();
    });
  }

  // Presses in quick succession each see the state the one before left.
  toggle() {
    const run = () => this.toggleNow();
    this.queue = (this.queue || Promise.resolve()).then(run, run);
    return this.queue;
  }

  async toggleNow() {
    if (!this.usable()) return;
    const play = this.stopped;
    await send(play ? 'playSong' : 'stopSong');
    await send('getIdeaCollection');
    await send('getLoopRecorder');
    announce(play ? 'The song plays from the next bar' : 'Song stopped');
  }

  show() {
    const button = $('transport');
    button.disabled = !this.usable();
    setAttr(button, 'aria-label', this.stopped ? 'Play the song (Space)' : 'Stop the song (Space)');
    setText(button.querySelector('.transport-text'), this.stopped ? 'Play' : 'Stop');
    setClass(button, 'stopped', this.stopped);
    setClass(document.body, 'song-stopped', this.stopped);
    if (this.time.stopped !== this.stopped) {
      this.time.stopped = this.stopped;
      this.loopRecorder.stopped = this.stopped;
      this.time.resyncBeat();
    }
  }
}
