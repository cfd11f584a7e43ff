#pragma once

#include "core/cyclemeter.h"
#include "core/playbackengine.h"
#include "core/zubtypes.h"
#include "engine/midimap.h"
#include "engine/renderer.h"

#include <json/value.h>

#include <cstdio>
#include <string>
#include <vector>

class BeatGrid;
class DrumLoopCollection;
class DrumLoopPlayer;
class EditHistory;
class FreestyleRecorder;
class FreestyleTempoDetector;
class Idea;
class IdeaCollection;
class Instrument;
class InstrumentCollection;
class Loop;
class LoopPool;
class LinkSession;
class LoopRecorder;
class MasterBus;
class Metronome;
class NativeAudioInterface;
class NativeAudioManagerInterface;
class NativeJsBridge;
class Project;
class SongFiles;
class Transport;

// The audio engine: owns every sound-producing component and mixes them into
// one stereo buffer per audio callback.
class ZubEngine : public PlaybackEngine
{
public:
    // Upper bound the components accept in one call; larger host buffers are
    // processed in pieces.
    static constexpr int MAX_CYCLE_FRAMES = 16383;

    explicit ZubEngine(NativeAudioManagerInterface* audioManager);
    ~ZubEngine();

    void setJsBridge(NativeJsBridge* bridge);
    NativeJsBridge* jsBridge() const { return m_pJsBridge; }
    void setAudioInterface(NativeAudioInterface* audioInterface) { m_pAudioInterface = audioInterface; }
    NativeAudioInterface* audioInterface() const { return m_pAudioInterface; }

    // Audio thread (or the GUI thread while a render has stopped the stream).
    void process(float* buffer, int numFrames) override;
    void stampCycleStart(int64 microsFromNow) override;

    // GUI and MIDI threads.
    void noteOn(int note, int velocity);
    void noteOff(int note);
    // Where a tempo change comes from: this program (typed, tapped) or the
    // Link session it follows.
    // History: an undo or redo puts back a song with the tempo it had, so the
    // loops kept now, which it is about to replace, hold nothing.
    enum class TempoSource { Local, Session, History };
    // The one way the song's tempo changes. Loops already kept hold the
    // tempo: with any of them in the song a different tempo is refused.
    // Returns 0, or 1 (and changes nothing) for a tempo outside 30..200 bpm,
    // out of the drum loop's reach or held by kept loops.
    int setTempo(float bpm, TempoSource source = TempoSource::Local);
    // GUI thread. The same, as an edit of the song that can be undone; what
    // the loop recorder held (which the new length drops) goes with it.
    int setSongTempo(float bpm);
    // The song holds loops of its own (the drum loop aside): its tempo stays.
    bool tempoHeldByLoops() const;
    // Kept loops refuse bpm: it is not the song's tempo and the song holds it.
    // Says so in a log line naming what asked for it.
    bool tempoRefusedByLoops(double bpm, const char* what) const;
    // 500..599 select live input devices; other ids load from the library.
    // Returns 0, or 1 when there is no such input device.
    int loadInstrument(unsigned id);

    // GUI thread. The recorder's audio, notes and beats become a loop of the
    // active idea (the first idea is made when there is none). Returns 0, or 1
    // with a log line when no idea is active.
    int createLoopFromLoopRecorder();
    // GUI thread. The tempo detector's loop joins the active idea (the first
    // idea is made when there is none); metronome and transport take its
    // tempo and phase, the loop recorder its length at its own beat count.
    // Returns 0, or 1 with a log line when the detector has no loop.
    int createLoopFromFreestyleTempoDetector();
    // GUI thread. Resets the project and drops every idea and unused loop;
    // the tempo stays. Nothing is left to undo.
    void clearProject();

    // GUI thread: edits of the song, each a step of the undo history.
    // Returns 0, or 1 (nothing changed) when no idea has the id.
    int cloneIdea(int32 id);
    // The idea collection's JSON commands; returns true when an idea was deleted.
    bool editIdeas(const Json::Value& root);
    // The recorder's audio and notes go; undo brings them back.
    void clearLoopRecorder();
    // Each returns 0, or 1 with a log line when there is nothing to undo (redo).
    int undo();
    int redo();
    EditHistory* history() const { return m_pHistory; }
    // GUI thread. Stop: no idea plays (its loops fade out), the click and the
    // loop recorder fall silent and recording stops; the live instrument
    // still sounds. Play: the idea that played last starts again at the next
    // bar. Each returns 1 (nothing changed) when there is nothing to do.
    int stopSong();
    int playSong();

    // GUI thread. Drum loops come from the drum loop collection's folder;
    // loading neither plays nor changes the tempo. An index past the list is
    // ignored. Playing keeps the song's tempo when the song has loops and
    // re-times the drum loop to it; in an empty song the drum loop's own
    // tempo becomes the song's. Stopping removes the drum loop only, never
    // ideas or other loops.
    int loadDrumLoopByName(const char* fileName);
    int loadDrumLoopByIndex(unsigned index);
    void playDrumLoop();
    void stopDrumLoop();
    void clearDrumLoop();
    // True when an idea holds a loop other than the drum loop: a drum loop
    // played then keeps the song's tempo and leaves the loop recorder alone.
    bool songHasOwnLoops() const;

    // GUI thread; each stops the live stream for the render and starts it again.
    // The active idea at gain 0.5 into the open file. Returns 0, or 1 with an
    // error line when there is nothing to render or the file was not written.
    int renderToFile(std::FILE* file, const Renderer::Progress& progress = {});
    // The song: every idea with loops in order, each once for its longest
    // loop with its own mute pattern, at gain 0.5. Returns 0, or 1 with an
    // error line when no idea has a loop or the file was not written.
    int renderSongToFile(std::FILE* file, const Renderer::Progress& progress = {});
    // The whole mix, for the first idea's length, to the page as Base64 WAV
    // messages. Returns 0, or 1 with an error line when there is nothing to render.
    int renderToJs();

    Instrument* instrument() const { return m_pInstrument; }
    InstrumentCollection* instrumentCollection() const { return m_pInstrumentCollection; }
    LoopRecorder* loopRecorder() const { return m_pLoopRecorder; }
    FreestyleRecorder* freestyleRecorder() const { return m_pFreestyleRecorder; }
    FreestyleTempoDetector* freestyleTempoDetector() const { return m_pFreestyleTempoDetector; }
    LoopPool* loopPool() const { return m_pLoopPool; }
    Project* project() const { return m_pProject; }
    IdeaCollection* ideaCollection() const { return m_pIdeaCollection; }
    Metronome* metronome() const { return m_pMetronome; }
    Transport* transport() const { return m_pTransport; }
    DrumLoopCollection* drumLoopCollection() const { return m_pDrumLoopCollection; }
    DrumLoopPlayer* drumLoopPlayer() const { return m_pDrumLoopPlayer; }
    // Saves and opens on a thread of their own.
    SongFiles* songFiles() const { return m_pSongFiles; }
    // While no cycle runs (the stream stopped): the recorder, every loop and
    // the click to where the transport is, and notes counted from there.
    void alignToTransport();
    LinkSession* linkSession() const { return m_pLinkSession; }
    // GUI thread. Link on or off; with it on, what other programs do to the
    // session's tempo (and, with start/stop sync, to its play state) reaches
    // the song and what happens here reaches the session.
    void setLinkEnabled(bool enabled);
    void setLinkStartStopSync(bool sync);
    // GUI thread, a few times a second: tempo and play state follow the
    // session or lead it, and the page hears of a new peer count or tempo.
    void followLink();
    // { "link" : { "enabled", "start_stop_sync", "peers", "tempo" } }
    std::string linkStateJson() const;
    // The largest cycle so far, read from any thread.
    CycleMeter& cycleMeter() { return m_cycleMeter; }
    // The MIDI controls bound to the page's actions; MIDI and GUI threads.
    MidiMap& midiMap() { return m_midiMap; }

private:
    void processCycle(float* buffer, int numFrames);
    void mixIdeas(float* buffer, int numFrames, int64 cycleStart, const BeatGrid& grid);
    static int64 nextBarFrame(int64 frame, const BeatGrid& grid);
    void followSessionTempo();
    void followSessionPlaying();
    static void fadeCycle(float* buffer, int n, bool fadeIn);
    int64 timelinePosition(int64 transportPos) const;
    void deliverWave(const std::string& member);
    Idea* ideaForNewLoop();
    int keepFreestyleLoop();
    void startDrumLoop();
    void followFreestyleLoop(const Loop& loop, float bpm);

    Instrument* m_pInstrument;
    InstrumentCollection* m_pInstrumentCollection;
    NativeAudioManagerInterface* m_pAudioManager;
    LoopRecorder* m_pLoopRecorder;
    FreestyleRecorder* m_pFreestyleRecorder;
    FreestyleTempoDetector* m_pFreestyleTempoDetector;
    IdeaCollection* m_pIdeaCollection;
    LoopPool* m_pLoopPool;
    Metronome* m_pMetronome;
    Transport* m_pTransport;
    MasterBus* m_pMasterBus;
    NativeJsBridge* m_pJsBridge = nullptr;
    NativeAudioInterface* m_pAudioInterface = nullptr;
    Project* m_pProject;
    DrumLoopCollection* m_pDrumLoopCollection;
    DrumLoopPlayer* m_pDrumLoopPlayer;
    SongFiles* m_pSongFiles;
    LinkSession* m_pLinkSession;
    CycleMeter m_cycleMeter;
    MidiMap m_midiMap;
    // GUI thread: what followLink last saw here and told the page.
    float m_fLinkLocalBpm = 0.0f;
    bool m_bLinkLocalPlaying = false;
    std::string m_linkStatePosted;
    // Audio thread: where the ideas start after a play, -1 when they play.
    int64 m_ideasStartFrame = -1;
    // Audio thread: the cycle's live input before the recorders add to it.
    std::vector<float> m_liveInput;
    EditHistory* m_pHistory;
};
