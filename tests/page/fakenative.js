// A stand-in for the program behind the page: it installs `nativeZub` and
// answers the JSON message API the way the engine does (message grammar,
// component states, pushed messages), so that every screen can be driven in
// a plain browser. Injected before the page's own scripts run; configured
// through window.__fakeConfig; inspected and steered by tests through
// window.__fake.
(() => {
  'use strict';
  const SR = 44100;
  const cfg = Object.assign({
    firstRun: false,
    confirmDiscard: true, // the user's answer to the save prompt
    loadMs: 120, // background instrument load
    waveBatch: 40, // "wave" messages per task
    instrumentGroups: null,
    drumLoops: null,
    inputDevices: ['Built-in Microphone', 'USB Audio CODEC Line In Stereo'],
  }, window.__fakeConfig || {});

  const rnd = (() => { let s = 12345; return () => (s = (s * 1103515245 + 12345) & 0x7fffffff) % 32768; })();
  const usedIds = new Set();
  function newId() {
    let id;
    do { id = rnd(); } while (usedIds.has(id) || id === 0);
    usedIds.add(id);
    return id;
  }
  const now = () => performance.now();
  const styled = (obj) => JSON.stringify(obj, null, 3) + '\n';

  // Pushed messages arrive later, in posting order, like events posted to
  // the web view.
  const queue = [];
  let draining = false;
  function push(message) {
    queue.push(typeof message === 'string' ? message : styled(message));
    if (draining) return;
    draining = true;
    setTimeout(drain, 0);
  }
  function drain() {
    const batch = queue.splice(0, queue.length);
    draining = false;
    for (const text of batch) deliver(text);
  }
  function deliver(text) {
    fake.delivered.push(text);
    if (typeof window.handleMsgFromQt4 === 'function') window.handleMsgFromQt4(text);
  }

  // ---- content ------------------------------------------------------------
  const groups = cfg.instrumentGroups || [
    {
      name: 'res/instruments/00_essentials', logo: '../../res/instruments/00_essentials/logo.png',
      colour_header: '#27466b', colour_header_border: '#4f86c6', colour_instrument: '#223247', colour_instrument_border: '#3d6591',
      instruments: [
        { name: 'Classic Piano', description: 'A warm upright piano', id: 1, logo: '../../res/instruments/00_essentials/classic/logo.png', instrument_type: 0, control_type: 0 },
        { name: 'Kelp Pad', description: 'Slow, glassy synth pad', id: 260, logo: '../../res/instruments/00_essentials/kelppad/logo.png', instrument_type: 1, control_type: 0 },
        { name: 'Nylon Guitar', description: 'General MIDI guitar', id: 4024, logo: '../../res/instruments/00_essentials/nylon/logo.png', instrument_type: 3, control_type: 0 },
      ],
    },
    {
      name: 'res/instruments/10_drums', logo: '../../res/instruments/10_drums/logo.png',
      colour_header: '#5c2b2b', colour_header_border: '#b65a5a', colour_instrument: '#3b2326', colour_instrument_border: '#874246',
      instruments: [
        { name: 'Standard Kit', description: 'Drums on pads', id: 4128, logo: '../../res/instruments/10_drums/standard/logo.png', instrument_type: 3, control_type: 1 },
      ],
    },
    {
      name: 'res/instruments/50_inputdevices', logo: '../../res/instruments/50_inputdevices/logo.png',
      colour_header: '', colour_header_border: '', colour_instrument: '', colour_instrument_border: '',
      instruments: cfg.inputDevices.map((name, i) => ({
        name: name.length > 17 ? name.slice(0, 15) + '...' : name, description: '', id: 500 + i,
        logo: '../../' + '/res/instruments/50_inputdevices' + (/Microphone|Camera/.test(name) ? '/microphone/logo.png' : '/lineinput/logo.png'),
        instrument_type: 2, control_type: 0,
      })),
    },
  ];
  const drumLoops = cfg.drumLoops || [
    { file_name: '120 16 Deep Groove.wav', display_name: 'Deep Groove', art: 'res/beats/120 16 Deep Groove.png', bpm: 120, beats: 16 },
    { file_name: '90 8 Lazy Swing.ogg', display_name: 'Lazy Swing', art: 'res/beats/90 8 Lazy Swing.png', bpm: 90, beats: 8 },
    { file_name: '140 4 Fast Hats.wav', display_name: 'Fast Hats', art: 'res/beats/140 4 Fast Hats.png', bpm: 140, beats: 4 },
  ];

  // ---- engine state -------------------------------------------------------
  const st = {
    bpm: 120,
    transportStart: now(),
    metronomeMute: true,
    project: { modified: false, bpm: 120 },
    // The song file the window would have: saving names it, New forgets it.
    songFile: '',
    instrument: null,
    vuTimer: 0,
    recorder: { record: false, beats: 16, seconds: 8, suspended: false, notes: [], held: new Map(), dirty: false },
    ideas: [], // { id, name, mute, loops: [loop], states: [bool] }
    activeId: 0,
    stopped: false,
    lastPlayed: 0,
    drum: null,
    drumLoop: null,
    freestyle: { state: 2, status: 'Suspended', active: false, takes: [], takeStart: 0, notes: [], held: new Map(), silence: 0 },
    detector: { loop: null, saved: null, active: false, tempo: 120 },
    link: { enabled: false, startStopSync: false, peers: 0, tempo: 120 },
  };
  const all = (groups.flatMap((g) => g.instruments));
  st.instrument = { ...all[0] };

  const transportFrames = () => Math.floor(((now() - st.transportStart) / 1000) * SR);
  const setTransport = (frames) => { st.transportStart = now() - (frames / SR) * 1000; };

  function waveformFor(seconds, beats, level = 1) {
    let out = '';
    for (let i = 0; i < 512; i++) {
      const phase = (i * Math.max(1, beats)) / 512;
      const v = Math.floor(level * (12 + 50 * Math.exp(-5 * (phase - Math.floor(phase))) + 8 * Math.sin(i / 7)));
      out += (v < 10 ? '0' : '') + String(Math.max(0, Math.min(99, v)));
    }
    return out;
  }

  function makeLoop({ seconds, beats = 16, notes = [], waveform }) {
    return {
      id: newId(), name: 'my loop', mute: false, length_seconds: seconds, num_beats: beats,
      notes: notes.map((n) => ({ ...n })),
      waveform: waveform !== undefined ? waveform : waveformFor(seconds, beats),
    };
  }
  const loopJson = (l) => ({
    id: l.id, name: 'my loop', mute: l.mute, length_seconds: l.length_seconds, num_beats: l.num_beats,
    notes: l.notes.map((n) => ({ ...n })), waveform: l.notes.length ? '' : l.waveform,
  });

  // ---- ideas --------------------------------------------------------------
  const activeIdea = () => st.ideas.find((i) => i.id === st.activeId) || null;
  // The window tells the page the song's saved state after every change.
  function pushDocument() {
    const name = st.songFile ? st.songFile.replace(/^.*\//, '').replace(/\.zub$/, '') : 'Untitled';
    push({ document: { name, file: st.songFile, modified: st.project.modified } });
  }
  const modified = () => {
    if (!st.project.modified) { st.project.modified = true; pushDocument(); }
  };
  function newIdea(name = 'A New Idea') {
    const idea = { id: newId(), name, mute: false, loops: [], states: [] };
    if (st.activeId === 0) st.activeId = idea.id;
    st.ideas.push(idea);
    modified();
    return idea;
  }
  function ensureIdea() { return activeIdea() || newIdea(); }
  function addLoop(idea, loop) {
    idea.loops.push(loop);
    idea.states = idea.loops.map((l) => l.mute);
  }
  function setActive(id) {
    if (id !== 0) st.stopped = false;
    if (id === st.activeId) return;
    const old = activeIdea();
    if (old) old.states = old.loops.map((l) => l.mute);
    st.activeId = id;
    const idea = activeIdea();
    if (idea) idea.loops.forEach((l, i) => { l.mute = !!idea.states[i]; });
  }
  function cloneIdea(id) {
    const i = st.ideas.findIndex((x) => x.id === id);
    if (i < 0) return;
    const src = st.ideas[i];
    src.states = src.loops.map((l) => l.mute);
    const words = src.name.split(/ +/).filter(Boolean);
    const last = words[words.length - 1] || '';
    const m = /^\d+/.exec(last);
    const name = words.length < 2 || !m ? `${src.name} 2` : `${words.slice(0, -1).join(' ')} ${Number(m[0]) + 1}`;
    const copy = { id: newId(), name, mute: src.mute, loops: [...src.loops], states: [...src.states] };
    st.ideas.splice(i + 1, 0, copy);
    setActive(copy.id);
    modified();
  }
  function ideaCollectionJson() {
    return {
      idea_collection: {
        ideas: st.ideas.map((idea) => ({
          id: idea.id, name: idea.name, mute: idea.mute, active: idea.id === st.activeId,
          loops: idea.loops.map((l, i) => ({ ...loopJson(l), mute: idea.states.length === idea.loops.length ? !!idea.states[i] : l.mute })),
        })),
        active_idea_id: st.activeId,
        stopped: st.stopped,
        test: 'foobar',
      },
    };
  }
  // True when an idea was destroyed (the API then answers the new state).
  function handleIdeas(msg) {
    const ideas = msg.ideas;
    if (Array.isArray(ideas) && ideas.length === 1) {
      const e = ideas[0];
      const i = st.ideas.findIndex((x) => x.id === e.id);
      if (i >= 0 && e._destroy !== undefined) {
        const next = i === 0 ? st.ideas[1] : st.ideas[i - 1];
        setActive(next ? next.id : 0);
        st.ideas.splice(i, 1);
        if (!st.ideas.length) setActive(0);
        modified();
        return true;
      }
      if (i >= 0) {
        const idea = st.ideas[i];
        if (typeof e.name === 'string') idea.name = e.name;
        if (typeof e.mute === 'boolean') idea.mute = e.mute;
        for (const le of Array.isArray(e.loops) ? e.loops : []) {
          const li = idea.loops.findIndex((l) => l.id === le.id);
          if (li < 0) continue;
          if (le._destroy !== undefined) {
            idea.loops.splice(li, 1);
            idea.states.splice(li, 1);
            modified();
            continue;
          }
          if (typeof le.mute === 'boolean') {
            idea.loops[li].mute = le.mute;
            idea.states[li] = le.mute;
          }
        }
      }
    }
    if (msg.active_idea_id !== undefined) setActive(Number(msg.active_idea_id) | 0);
    if (msg.clear !== undefined) { setActive(0); st.ideas = []; modified(); }
    return false;
  }

  // ---- loop recorder ------------------------------------------------------
  const rec = st.recorder;
  function recorderJson() {
    const lenFrames = Math.floor(rec.seconds * SR);
    const frames = transportFrames();
    return {
      loop_recorder: {
        record: rec.record, length_seconds: lenFrames / SR, num_beats: rec.beats,
        frame_counter: frames, play_pos_frame: frames % lenFrames, empty: recorderEmpty(),
      },
    };
  }
  const recorderEmpty = () => !rec.dirty && rec.notes.length === 0 && rec.held.size === 0;
  function recorderLength(seconds) {
    rec.seconds = seconds;
    const beats = Math.round(seconds / (60 / st.bpm));
    rec.beats = 2 ** Math.round(Math.log2(Math.max(1, beats)));
    rec.notes = [];
    rec.dirty = false;
  }
  const recorderUs = () => {
    const lenUs = Math.floor(rec.seconds * 1e6);
    return Math.floor(((transportFrames() / SR) * 1e6) % lenUs);
  };
  function handleRecorder(m) {
    if (m.initialize !== undefined) rec.suspended = false;
    if (m.suspend !== undefined) { rec.suspended = true; rec.record = false; }
    if (typeof m.record === 'boolean') rec.record = m.record;
    if (m.clear === true) { rec.notes = []; rec.dirty = false; }
    if (Number.isInteger(m.beats) && m.beats !== rec.beats) {
      if (m.beats >= 2 && (m.beats & (m.beats - 1)) === 0) recorderLength((rec.seconds * m.beats) / rec.beats);
    }
  }

  // ---- freestyle ----------------------------------------------------------
  const fs = st.freestyle;
  function freestyleJson() {
    return { freestyle_recorder: { loops: fs.takes.slice(0, 4).map(loopJson), status: fs.status } };
  }
  function freestyleIdle(muteTakes = true) {
    fs.state = 0;
    fs.status = 'Idle';
    if (muteTakes) fs.takes.forEach((t) => { t.mute = true; });
    push(freestyleJson());
  }
  function freestyleStart() {
    fs.state = 1;
    fs.status = 'Recording';
    fs.takeStart = now();
    fs.notes = [];
    push(freestyleJson());
  }
  function freestyleFinish() {
    const seconds = (now() - fs.takeStart) / 1000;
    fs.takes.unshift(makeLoop({ seconds, beats: 16, notes: fs.notes, waveform: fs.notes.length ? '' : undefined }));
    fs.takes[0].mute = true;
    fs.takes.length = Math.min(fs.takes.length, 5);
    freestyleIdle();
  }
  function freestyleNoteOn(note) {
    if (!fs.active) return;
    if (fs.state === 0) freestyleStart();
    if (fs.state !== 1) return;
    clearTimeout(fs.silence);
    if (!fs.held.has(note)) fs.held.set(note, Math.floor((now() - fs.takeStart) * 1000));
  }
  function freestyleNoteOff(note) {
    if (fs.state !== 1 || !fs.held.has(note)) return;
    const t = fs.held.get(note);
    fs.held.delete(note);
    fs.notes.push({ time: t, note, length: Math.floor((now() - fs.takeStart) * 1000) - t });
    fs.notes.sort((a, b) => a.time - b.time);
    if (fs.held.size === 0) fs.silence = setTimeout(freestyleFinish, 1000);
  }
  function handleFreestyle(m) {
    // Back from the tempo detector the takes stay as it left them.
    if (m.initialize !== undefined) { fs.active = true; freestyleIdle(!fs.lent); fs.lent = false; }
    if (m.suspend !== undefined) freestyleSuspend();
    if (m.do_tempo_detection !== undefined) {
      const take = fs.takes.find((t) => !t.mute);
      if (take) {
        det.loop = take;
        det.saved = { seconds: take.length_seconds, beats: take.num_beats, notes: take.notes.map((n) => ({ ...n })) };
      }
      detectorActivate();
      freestyleSuspend();
      fs.lent = true;
    }
    for (const e of Array.isArray(m.loops) ? m.loops : []) {
      const t = fs.takes.find((x) => x.id === e.id);
      if (t && typeof e.mute === 'boolean') t.mute = e.mute;
    }
    if (m.playing_loop_id !== undefined) fs.takes.forEach((t) => { t.mute = t.id !== m.playing_loop_id; });
  }
  function freestyleSuspend() {
    fs.active = false;
    fs.lent = false;
    fs.state = 2;
    fs.status = 'Suspended';
    clearTimeout(fs.silence);
  }

  // ---- tempo detector -----------------------------------------------------
  const det = st.detector;
  const detectorJson = () => ({ freestyle_tempo_detector: { loops: det.loop ? [loopJson(det.loop)] : [] } });
  function restoreTake() {
    if (!det.loop || !det.saved) return;
    det.loop.length_seconds = det.saved.seconds;
    det.loop.num_beats = det.saved.beats;
    det.loop.notes = det.saved.notes.map((n) => ({ ...n }));
  }
  function detectorActivate() {
    if (!det.loop) return;
    restoreTake();
    det.loop.mute = false;
    det.active = false;
    push(detectorJson());
  }
  function snap(bpm, seconds) {
    const loop = det.loop;
    det.tempo = bpm;
    if (seconds > loop.length_seconds) loop.length_seconds = Math.floor(seconds * SR) / SR;
    const spb = 60 / bpm;
    let best = 1e8;
    let beats = 1;
    for (let i = 0; i <= 6; i++) {
      const d = Math.abs(2 ** i * spb - seconds);
      if (d < best) { best = d; beats = 2 ** i; }
    }
    const n = Math.floor(beats * spb * SR);
    const nus = Math.floor((n / SR) * 1e6);
    loop.length_seconds = n / SR;
    loop.num_beats = beats;
    loop.notes = loop.notes.map((x) => ({ ...x, time: x.time % nus })).sort((a, b) => a.time - b.time);
    loop.waveform = waveformFor(loop.length_seconds, beats);
  }
  function handleDetector(m) {
    if (m.initialize !== undefined) detectorActivate();
    if (m.suspend !== undefined) det.active = false;
    if (m.suspend_and_restore_loop_state !== undefined && det.loop) { restoreTake(); det.loop.mute = false; det.active = false; }
    if ((m.play_loop_once !== undefined || m.play_loop !== undefined) && det.loop) det.active = true;
    if (typeof m.bpm === 'number' && typeof m.first_to_last_tap_time === 'number' && det.loop) {
      snap(m.bpm, m.first_to_last_tap_time / 1000 + 60 / m.bpm);
    }
  }

  // ---- tempo, drums -------------------------------------------------------
  // The drum loop leaves every idea that holds it; those ideas are returned.
  function removeDrumLoop() {
    const holders = st.ideas.filter((idea) => idea.loops.includes(st.drumLoop));
    for (const idea of holders) {
      const i = idea.loops.indexOf(st.drumLoop);
      idea.loops.splice(i, 1);
      idea.states.splice(i, 1);
    }
    st.drumLoop = null;
    return holders;
  }
  // The re-timed loop replaces the old one wherever it was, and plays in the
  // active idea; the recorder gets sixteen beats of it.
  function retimeDrums(bpm) {
    if (!st.drum) return false;
    const holders = removeDrumLoop();
    const active = ensureIdea();
    if (!holders.includes(active)) holders.push(active);
    const seconds = (st.drum.beats * 60) / bpm;
    st.drumLoop = makeLoop({ seconds, beats: st.drum.beats });
    for (const idea of holders) addLoop(idea, st.drumLoop);
    setTransport(0);
    rec.seconds = (seconds * 16) / st.drum.beats;
    rec.beats = 16;
    rec.notes = [];
    return true;
  }
  // Kept loops hold the song's tempo: any other is refused, wherever it
  // comes from.
  function tempoHeld(bpm, what) {
    if (Math.abs(bpm - st.bpm) <= 0.005 || !ownLoops()) return false;
    fake.log.push(`Kept loops hold the tempo at ${st.bpm} bpm, ${what} refused: ${bpm}`);
    return true;
  }
  function setTempo(bpm, what = 'tempo') {
    if (!(bpm >= 30 && bpm <= 200) || tempoHeld(bpm, what)) return false;
    st.project.bpm = bpm;
    st.bpm = bpm;
    if (!retimeDrums(bpm)) recorderLength((rec.beats * 60) / bpm);
    if (st.link.enabled && Math.abs(st.link.tempo - bpm) > 0.005) {
      st.link.tempo = bpm;
      push(linkJson());
    }
    return true;
  }

  // ---- Link -----------------------------------------------------------------
  // The session's tempo follows the song's while Link is on; a session tempo
  // the song refuses gets the song's back.
  const link = st.link;
  const linkJson = () => ({ link: { enabled: link.enabled, start_stop_sync: link.startStopSync, peers: link.enabled ? link.peers : 0,
    tempo: link.enabled ? link.tempo : st.bpm } });
  function handleLink(m) {
    if (typeof m.enabled === 'boolean' && m.enabled !== link.enabled) {
      link.enabled = m.enabled;
      if (m.enabled && !(link.peers > 0 && setTempo(link.tempo, 'tempo from the Link session'))) link.tempo = st.bpm;
    }
    if (typeof m.start_stop_sync === 'boolean') link.startStopSync = m.start_stop_sync;
    return styled(linkJson());
  }
  // Other peers: how many there are and the tempo they play at.
  function linkPeers(peers, tempo = link.tempo) {
    link.peers = peers;
    link.tempo = tempo;
    if (link.enabled && !setTempo(tempo, 'tempo from the Link session')) link.tempo = st.bpm;
    push(linkJson());
  }
  function stopDrums() {
    removeDrumLoop();
  }
  const ownLoops = () => st.ideas.some((i) => i.loops.some((l) => l !== st.drumLoop));

  // ---- instruments --------------------------------------------------------
  function loadInstrument(id) {
    const inst = all.find((i) => i.id === id);
    if (!inst) return;
    clearInterval(st.vuTimer);
    st.instrument = { ...inst };
    push('{ "instrument" : { "loading" : 1 } }');
    if (id >= 500 && id <= 599) {
      push('{ "instrument" : { "loading" : 0 } }');
      let t = 0;
      st.vuTimer = setInterval(() => {
        t++;
        push(`{ "input_vu_meter" : { "value" : ${(0.02 + 0.3 * Math.abs(Math.sin(t / 4))).toPrecision(6)} } }`);
      }, 50);
    } else {
      setTimeout(() => push('{ "instrument" : { "loading" : 0 } }'), cfg.loadMs);
    }
  }

  // ---- render -------------------------------------------------------------
  function b64(bytes) {
    let s = '';
    for (let i = 0; i < bytes.length; i++) s += String.fromCharCode(bytes[i]);
    return btoa(s);
  }
  function wavHeader(frames) {
    const h = new DataView(new ArrayBuffer(44));
    const tag = (o, t) => [...t].forEach((c, i) => h.setUint8(o + i, c.charCodeAt(0)));
    const data = frames * 4;
    tag(0, 'RIFF'); h.setUint32(4, data + 36, true); tag(8, 'WAVE'); tag(12, 'fmt ');
    h.setUint32(16, 16, true); h.setUint16(20, 1, true); h.setUint16(22, 2, true);
    h.setUint32(24, SR, true); h.setUint32(28, SR * 4, true); h.setUint16(32, 4, true); h.setUint16(34, 16, true);
    tag(36, 'data'); h.setUint32(40, data, true);
    return new Uint8Array(h.buffer);
  }
  function render() {
    fake.log.push('Rendering to JS...');
    if (!st.ideas.length) { fake.log.push('Error: No idea to render. Make an first idea!'); return; }
    const first = st.ideas[0];
    if (!first.loops.length) { fake.log.push('Error: No loop to render. Make a loop in the first idea!'); return; }
    const frames = Math.floor(Math.max(...first.loops.map((l) => l.length_seconds)) * SR);
    const messages = [`{ "wave" : { "data" : "${b64(wavHeader(frames))}" } }`];
    for (let offset = 0; offset < frames; offset += 512) {
      const m = Math.min(512, frames - offset);
      const block = new DataView(new ArrayBuffer(m * 4));
      for (let i = 0; i < m; i++) {
        const v = Math.round(8000 * Math.sin((2 * Math.PI * 220 * (offset + i)) / SR));
        block.setInt16(i * 4, v, true);
        block.setInt16(i * 4 + 2, v, true);
      }
      messages.push(`{ "wave" : { "data" : "${b64(new Uint8Array(block.buffer))}" } }`);
    }
    messages.push('{ "wave" : { "end" : true } }');
    // QtWebEngine evaluates them one after another, a little later each.
    let i = 0;
    const step = () => {
      for (let n = 0; n < cfg.waveBatch && i < messages.length; n++) deliver(messages[i++]);
      if (i < messages.length) setTimeout(step, 0);
    };
    setTimeout(step, 0);
  }

  // ---- notes --------------------------------------------------------------
  function noteOn(note) {
    fake.notes.push(['on', note]);
    if (rec.record && !rec.suspended && !rec.held.has(note)) rec.held.set(note, recorderUs());
    freestyleNoteOn(note);
  }
  function noteOff(note) {
    fake.notes.push(['off', note]);
    if (rec.held.has(note)) {
      const t = rec.held.get(note);
      rec.held.delete(note);
      const lenUs = Math.floor(rec.seconds * 1e6);
      const end = recorderUs();
      rec.notes.push({ time: t, note, length: ((end - t) % lenUs + lenUs) % lenUs });
      rec.notes.sort((a, b) => a.time - b.time);
    }
    freestyleNoteOff(note);
  }

  // ---- the API ------------------------------------------------------------
  const commands = {
    getLoopRecorder: () => styled(recorderJson()),
    getMetronome: () => styled({ metronome: { mute: st.metronomeMute } }),
    getFreestyleRecorder: () => styled(freestyleJson()),
    getFreestyleTempoDetector: () => styled(detectorJson()),
    getIdeaCollection: () => styled(ideaCollectionJson()),
    createLoopFromLoopRecorder: () => {
      if (recorderEmpty()) { fake.log.push('The loop recorder holds nothing to keep'); return ''; }
      const idea = ensureIdea();
      addLoop(idea, makeLoop({ seconds: Math.floor(rec.seconds * SR) / SR, beats: rec.beats, notes: rec.notes,
        waveform: rec.notes.length ? '' : waveformFor(rec.seconds, rec.beats, rec.dirty ? 1 : 0) }));
      rec.notes = [];
      rec.dirty = false;
      modified();
      return '';
    },
    createLoopFromFreestyleTempoDetector: () => {
      if (!det.loop || tempoHeld(det.tempo, "the take's tempo")) return '';
      det.active = false;
      const idea = ensureIdea();
      det.loop.mute = false;
      addLoop(idea, det.loop);
      fs.takes = fs.takes.filter((t) => t !== det.loop);
      st.bpm = det.tempo;
      rec.seconds = det.loop.length_seconds;
      det.loop = null;
      modified();
      return '';
    },
    getInstrument: () => {
      const i = st.instrument;
      return styled({ instrument: { name: i.name, description: i.description, id: i.id, logo: i.logo, instrument_type: i.instrument_type, control_type: i.control_type } });
    },
    getInstrumentCollection: () => styled({ instrument_collection: { instrument_groups: groups } }),
    getDrumLoopCollection: () => styled({ drum_loop_collection: { drum_loops: drumLoops, plays_at_song_tempo: ownLoops() } }),
    clearDrumLoop: () => { st.drum = null; stopDrums(); return ''; },
    stopDrumLoop: () => { stopDrums(); return ''; },
    // A song with loops keeps its tempo; an empty one takes the drum loop's,
    // and the recorder with it, which empties it unless its beats fit.
    playDrumLoop: () => {
      if (!st.drum) return '';
      if (!ownLoops()) {
        st.project.bpm = st.bpm = st.drum.bpm;
        if (Math.round((rec.beats * 60 * SR) / st.bpm) !== Math.floor(rec.seconds * SR)) recorderLength((rec.beats * 60) / st.bpm);
      }
      removeDrumLoop();
      st.drumLoop = makeLoop({ seconds: (st.drum.beats * 60) / st.bpm, beats: st.drum.beats });
      addLoop(ensureIdea(), st.drumLoop);
      setTransport(0);
      return '';
    },
    stopSong: () => {
      if (!st.activeId) return '';
      st.lastPlayed = st.activeId;
      setActive(0);
      st.stopped = true;
      rec.record = false;
      return '';
    },
    playSong: () => {
      if (!st.stopped || !st.ideas.length) return '';
      setActive(st.ideas.some((i) => i.id === st.lastPlayed) ? st.lastPlayed : st.ideas[0].id);
      return '';
    },
    undo: () => { fake.log.push('undo'); return ''; },
    redo: () => { fake.log.push('redo'); return ''; },
    clearProject: () => {
      st.stopped = false;
      st.drum = null;
      stopDrums();
      st.project.modified = false;
      st.songFile = '';
      setActive(0);
      st.ideas = [];
      pushDocument();
      return '';
    },
    discardChangesConfirmation: () => (!st.project.modified || cfg.confirmDiscard ? '{ "project" : { "discard_confirm" : true } }' : ''),
    getIdea: () => '',
    getLink: () => styled(linkJson()),
    getProject: () => styled({ project: { modified_since_last_save: st.project.modified, bpm: st.project.bpm } }),
    getMicrosecondsUntilNextBeat: () => {
      const f = Math.floor((1 / (st.bpm / 60)) * SR);
      return `{ "transport" : { "usec_till_beat" : ${Math.floor((transportFrames() % f) * 22.675736961451246)} } }`;
    },
    render: () => { render(); return ''; },
  };

  function handle(message) {
    const colon = message.split(':').filter(Boolean);
    if (colon.length >= 2) {
      let root;
      try { root = JSON.parse(message); } catch { root = undefined; }
      if (root && typeof root === 'object') {
        let reply = '';
        if (root.loop_recorder) handleRecorder(root.loop_recorder);
        if (root.idea_collection && handleIdeas(root.idea_collection)) reply = styled(ideaCollectionJson());
        if (root.metronome && typeof root.metronome.mute === 'boolean') st.metronomeMute = root.metronome.mute;
        if (root.freestyle_recorder) handleFreestyle(root.freestyle_recorder);
        if (root.freestyle_tempo_detector) handleDetector(root.freestyle_tempo_detector);
        if (root.project && typeof root.project.bpm === 'number' && !tempoHeld(root.project.bpm, 'project tempo')) st.project.bpm = root.project.bpm;
        if (root.link && typeof root.link === 'object') reply = handleLink(root.link);
        return reply;
      }
      const [t0, t1] = colon;
      if (t0 === 'loadInstrument') loadInstrument(parseInt(t1, 10) || 0);
      else if (t0 === 'loadDrumLoopByName') st.drum = drumLoops.find((d) => d.file_name === t1) || null;
      else if (t0 === 'loadDrumLoopByIndex') { const d = drumLoops[parseInt(t1, 10) || 0]; if (d) st.drum = d; }
      else if (t0 === 'cloneIdea') { cloneIdea(parseInt(t1, 10) || 0); return styled(ideaCollectionJson()); }
      return '';
    }
    if (colon.length === 1) {
      if (commands[message]) return commands[message]();
      const parts = message.split(/[->]+/).filter(Boolean);
      if (parts.length === 2) {
        const n = parseFloat(parts[1]) || 0;
        if (parts[0] === 'noteOn') noteOn(Math.trunc(n));
        else if (parts[0] === 'noteOff') noteOff(Math.trunc(n));
        else if (parts[0] === 'setTempo') setTempo(n);
      }
      return '';
    }
    fake.log.push('Unhandled JSON API call: ' + message);
    return '';
  }

  const fake = {
    config: cfg,
    state: st,
    sent: [],
    delivered: [],
    notes: [],
    log: [],
    calls: { render: 0, save: 0, saveAs: 0, open: 0, share: 0 },
    commands: [],
    // The user names the song in the window's dialog and it is saved.
    saveSong(file = '/home/musician/Motifo/My Song.zub') {
      st.songFile = file;
      st.project.modified = false;
      pushDocument();
    },
    push,
    // A note from a MIDI keyboard.
    midi(note, down) { push(`{ "keyboard" : { "${down ? 'note_on' : 'note_off'}" : "${note}" } }`); },
    // A take made from a live input (no notes, a waveform).
    addTake(seconds) {
      const t = makeLoop({ seconds, beats: 16 });
      t.mute = true;
      fs.takes.unshift(t);
      fs.takes.length = Math.min(fs.takes.length, 5);
      push(freestyleJson());
      return t.id;
    },
    // A redo from the window's Edit menu brought back a kept loop.
    redoKeptLoop(seconds = 2) {
      addLoop(ensureIdea(), makeLoop({ seconds, beats: 4 }));
      modified();
    },
    // Something was played into the loop recorder that is not notes.
    recordAudio() { if (rec.record) rec.dirty = true; },
    stopMeters() { clearInterval(st.vuTimer); },
    freestyleJson,
    linkPeers,
  };
  window.__fake = fake;

  const promise = (v) => Promise.resolve(v);
  window.nativeZub = {
    handleMessage(text) {
      const message = String(text);
      fake.sent.push(message);
      const reply = handle(message);
      deliver(reply); // the reply also arrives through handleMsgFromQt4, before the call returns
      return promise(reply);
    },
    render() { fake.calls.render++; return promise(true); },
    save() { fake.calls.save++; fake.saveSong(st.songFile || undefined); return promise(true); },
    saveAs() { fake.calls.saveAs++; return promise(true); },
    open() { fake.calls.open++; return promise(true); },
    share() { fake.calls.share++; return promise(true); },
    firstRun() { return promise(!!cfg.firstRun); },
    // The window's commands, as the main window carries them out.
    command(name) {
      fake.commands.push(String(name));
      setTimeout(() => windowCommand(String(name)), 0);
      return promise(undefined);
    },
    midiInput() { return promise(cfg.midiInput || ''); },
    nativeBackendId() { return promise('Qt4'); },
    installJavaScriptObjects() { install(); return promise(undefined); },
  };

  const NEW_SONG_CALLS = ['showIdeaSetup', 'hideFreestyleRecorder', 'hideCredits', 'hideHelp',
    'hideFreestyleTempoScreen', 'hideBeatPickerPopup', 'hideInstrumentPicker', 'hideMainMenu'];
  function exportWav(what) {
    const path = 'exportPath' in cfg ? cfg.exportPath : `/home/me/Documents/Motifo/${what === 'song' ? 'My Song' : 'Verse'}.wav`;
    if (!path) { push({ render: { what, cancelled: '' } }); return; }
    // A little apart, as the window's render hands the page a turn now and then.
    const steps = [{ started: path }, ...[0.25, 0.5, 0.75].map((p) => ({ progress: String(p) })), { file: path }];
    steps.forEach((step, i) => setTimeout(() => push({ render: { what, ...step } }), 20 * i));
  }
  function windowCommand(name) {
    if (name === 'new') {
      if (st.project.modified && !cfg.confirmDiscard) return;
      handle('clearProject');
      for (const f of NEW_SONG_CALLS) window[f]();
    } else if (name === 'open') {
      fake.calls.open++;
      if (st.project.modified && !cfg.confirmDiscard) return;
      handle('clearProject');
      push('{ "idea_collection" : { "just_loaded" : "true" } }');
    } else if (name === 'save' || name === 'saveAs') {
      fake.calls[name]++;
      fake.saveSong(name === 'save' && st.songFile ? st.songFile : undefined);
    } else if (name === 'exportSong' || name === 'exportIdea') {
      exportWav(name === 'exportSong' ? 'song' : 'idea');
    }
  }

  function install() {
    window.loaded_native = true;
    if (typeof window.checkInit === 'function') window.checkInit();
    pushDocument();
  }
  if (cfg.autoInit !== false) {
    if (document.readyState === 'complete') install();
    else window.addEventListener('load', install, { once: true });
  }
})();
