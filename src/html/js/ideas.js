// Arranging: the ideas with the active one, rename, clone, delete, and the
// active idea's loops with their mute state, drawn from waveform or notes.
import { on, send, sendJson } from './bridge.js';
import { $, el, announce, confirmInPlace, setText, setAttr, setClass } from './ui.js';
import { drawLoop } from './draw.js';

export function loopTitle(loop, index) {
  const beats = Number(loop.num_beats);
  const secs = Number(loop.length_seconds);
  const parts = [];
  if (beats > 0) parts.push(`${beats} beats`);
  if (secs > 0) parts.push(`${secs.toFixed(1)} s`);
  return { name: `Loop ${index + 1}`, detail: parts.join(' · ') };
}

export class Ideas {
  constructor({ onJustLoaded, afterChange }) {
    this.onJustLoaded = onJustLoaded;
    this.afterChange = afterChange; // the project's modified flag follows every change
    this.ideas = [];
    this.activeId = 0;
    this.shownKey = '';
    this.redrawFrame = 0;

    $('idea-rename').addEventListener('click', () => this.startRename());
    $('rename-form').addEventListener('submit', (e) => { e.preventDefault(); this.finishRename(); });
    $('rename-cancel').addEventListener('click', () => this.endRename());
    $('rename-input').addEventListener('keydown', (e) => { if (e.key === 'Escape') { e.preventDefault(); this.endRename(); } });
    $('idea-clone').addEventListener('click', () => this.clone());
    $('idea-delete').addEventListener('click', () => this.askDelete());
    on('idea_collection', (m) => this.onState(m));
    window.addEventListener('resize', () => {
      if (!this.redrawFrame) this.redrawFrame = requestAnimationFrame(() => { this.redrawFrame = 0; this.redraw(); });
    });
  }

  active() {
    return this.ideas.find((i) => i.id === this.activeId) || null;
  }

  onState(m) {
    if (m.just_loaded !== undefined) {
      this.onJustLoaded();
      return;
    }
    if (!Array.isArray(m.ideas)) return;
    this.ideas = m.ideas.filter((i) => i && typeof i === 'object').map((i) => ({
      id: Number(i.id),
      name: String(i.name ?? ''),
      active: i.active === true,
      loops: Array.isArray(i.loops) ? i.loops.filter((l) => l && typeof l === 'object') : [],
    }));
    const fromFlag = this.ideas.find((i) => i.active);
    this.activeId = Number.isFinite(Number(m.active_idea_id)) ? Number(m.active_idea_id) : (fromFlag ? fromFlag.id : 0);
    this.render();
  }

  async refresh() {
    await send('getIdeaCollection');
  }

  async select(id) {
    if (id === this.activeId) return;
    await sendJson({ idea_collection: { active_idea_id: id } });
    await this.refresh();
    const idea = this.active();
    if (idea) announce(`${idea.name} is playing`);
    await this.afterChange();
  }

  // The idea after (1) or before (-1) the active one, round the list.
  async step(delta) {
    if (!this.ideas.length) return;
    const at = this.ideas.findIndex((i) => i.id === this.activeId);
    const next = at < 0 ? 0 : (at + delta + this.ideas.length) % this.ideas.length;
    await this.select(this.ideas[next].id);
  }

  // Mutes or unmutes the active idea's loop at `index`, as its Mute button does.
  async toggleMute(index) {
    const loop = this.active()?.loops[index];
    if (loop) await this.setLoopMute(loop.id, loop.mute !== true);
  }

  startRename() {
    const idea = this.active();
    if (!idea) return;
    $('rename-form').hidden = false;
    $('idea-name').hidden = true;
    $('idea-actions').hidden = true;
    const input = $('rename-input');
    input.value = idea.name;
    input.focus();
    input.select();
  }

  endRename() {
    $('rename-form').hidden = true;
    $('idea-name').hidden = false;
    $('idea-actions').hidden = false;
    $('idea-rename').focus();
  }

  async finishRename() {
    const idea = this.active();
    const name = $('rename-input').value.replace(/\s+/g, ' ').trim();
    this.endRename();
    if (!idea || !name || name === idea.name) return;
    await sendJson({ idea_collection: { ideas: [{ id: idea.id, name }] } });
    await this.refresh();
    await this.afterChange();
  }

  async clone() {
    const idea = this.active();
    if (!idea) return;
    await send(`cloneIdea:${idea.id}`);
    await this.refresh();
    const copy = this.active();
    if (copy) announce(`Cloned as ${copy.name}`);
    await this.afterChange();
  }

  askDelete() {
    const idea = this.active();
    if (!idea) return;
    confirmInPlace($('idea-delete-slot'), $('idea-delete'), `Delete ${idea.name}?`, () => this.remove(idea.id));
  }

  async remove(id) {
    const idea = this.ideas.find((i) => i.id === id);
    await sendJson({ idea_collection: { ideas: [{ id, _destroy: true }] } });
    await this.refresh();
    announce(`${idea ? idea.name : 'Idea'} deleted`);
    (document.querySelector('#ideas [aria-current="true"]') || $('open-freestyle')).focus();
    await this.afterChange();
  }

  async setLoopMute(loopId, mute) {
    const idea = this.active();
    if (!idea) return;
    await sendJson({ idea_collection: { ideas: [{ id: idea.id, loops: [{ id: loopId, mute }] }] } });
    await this.refresh();
    await this.afterChange();
  }

  async removeLoop(loopId) {
    const idea = this.active();
    if (!idea) return;
    await sendJson({ idea_collection: { ideas: [{ id: idea.id, loops: [{ id: loopId, _destroy: true }] }] } });
    await this.refresh();
    announce('Loop removed');
    $('loops').querySelector('button') ? $('loops').querySelector('button').focus() : $('idea-rename').focus();
    await this.afterChange();
  }

  render() {
    this.renderList();
    this.renderDetail();
  }

  renderList() {
    const list = $('ideas');
    const focusedId = document.activeElement?.closest?.('#ideas [data-id]')?.dataset.id;
    list.textContent = '';
    for (const idea of this.ideas) {
      const current = idea.id === this.activeId;
      const count = idea.loops.length;
      const button = el('button', {
        type: 'button', class: 'idea-item', dataset: { id: String(idea.id) },
        'aria-current': current ? 'true' : undefined,
        'aria-label': `${idea.name}, ${count} ${count === 1 ? 'loop' : 'loops'}${current ? ', playing' : ''}`,
        onclick: () => this.select(idea.id),
      }, [el('span', { class: 'idea-dot', 'aria-hidden': 'true' }),
        el('span', { class: 'idea-title', text: idea.name }),
        el('span', { class: 'idea-count', 'aria-hidden': 'true', text: String(count) })]);
      list.append(el('li', {}, button));
    }
    $('ideas-empty').hidden = this.ideas.length > 0;
    if (focusedId) list.querySelector(`[data-id="${CSS.escape(focusedId)}"]`)?.focus();
  }

  renderDetail() {
    const idea = this.active();
    $('idea-name').textContent = idea ? idea.name : (this.ideas.length ? 'No idea playing' : 'No idea yet');
    for (const id of ['idea-rename', 'idea-clone', 'idea-delete']) $(id).disabled = !idea;
    const loops = idea ? idea.loops : [];
    $('loops-empty').hidden = loops.length > 0;
    $('loops-empty').textContent = idea ? 'This idea has no loops yet.' : 'Press Record, play something, then Keep loop.';
    // Rebuild only when what is drawn changed; mute changes just repaint.
    const key = idea ? `${idea.id}:` + loops.map((l) => `${l.id}/${l.num_beats}/${l.length_seconds}/${(l.waveform || '').length}/${(l.notes || []).length}`).join(',') : '';
    const list = $('loops');
    if (key !== this.shownKey) {
      const focusedLoop = document.activeElement?.closest?.('#loops [data-loop]')?.dataset.loop;
      const focusedRole = document.activeElement?.dataset?.role;
      this.shownKey = key;
      list.textContent = '';
      loops.forEach((loop, index) => list.append(this.loopCard(loop, index)));
      this.redraw();
      if (focusedLoop) list.querySelector(`[data-loop="${CSS.escape(focusedLoop)}"] [data-role="${focusedRole}"]`)?.focus();
    }
    loops.forEach((loop) => {
      const card = list.querySelector(`[data-loop="${CSS.escape(String(loop.id))}"]`);
      if (!card) return;
      const muted = loop.mute === true;
      setClass(card, 'muted', muted);
      const b = card.querySelector('[data-role="mute"]');
      setAttr(b, 'aria-pressed', String(muted));
      setText(b, muted ? 'Muted' : 'Mute');
    });
  }

  loopCard(loop, index) {
    const { name, detail } = loopTitle(loop, index);
    const canvas = el('canvas', { class: 'loop-canvas', width: 320, height: 80, role: 'img' });
    canvas.loopData = loop;
    const mute = el('button', {
      type: 'button', class: 'mute', 'aria-pressed': 'false', dataset: { role: 'mute' },
      'aria-label': `Mute ${name}`,
      onclick: () => this.setLoopMute(loop.id, mute.getAttribute('aria-pressed') !== 'true'),
    }, 'Mute');
    const slot = el('span', { class: 'confirm-slot' });
    const removeButton = el('button', {
      type: 'button', class: 'icon-button small', dataset: { role: 'remove' }, 'aria-label': `Remove ${name} from the idea`,
      title: 'Remove from the idea', text: '×',
      onclick: () => confirmInPlace(slot, removeButton, `Remove ${name}?`, () => this.removeLoop(loop.id)),
    });
    slot.append(removeButton);
    return el('li', { class: 'loop-card', dataset: { loop: String(loop.id) } }, [
      el('div', { class: 'loop-head' }, [
        el('span', { class: 'loop-name', text: name }),
        el('span', { class: 'loop-detail', text: detail }),
        slot,
      ]),
      canvas,
      el('div', { class: 'loop-foot' }, [mute,
        el('span', { class: 'loop-kind', text: Array.isArray(loop.notes) && loop.notes.length ? `${loop.notes.length} notes` : 'audio' })]),
    ]);
  }

  redraw() {
    for (const c of document.querySelectorAll('canvas.loop-canvas')) if (c.loopData) drawLoop(c, c.loopData);
  }
}
