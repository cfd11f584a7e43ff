#pragma once

#include "engine/drumloopplayer.h"
#include "loops/ideacollection.h"
#include "loops/looprecorder.h"

#include <json/value.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <string>

class ZubEngine;

// Undo and redo of the song's edits. Every edit runs through perform(),
// which takes the song's state before and after it: the ideas, their
// contents, the tempo and the drum loop, all held by reference (loops and
// their audio never change once kept, so a step copies no audio). Undo and
// redo put a whole state back; the tempo goes through the engine's own
// tempo change. An edit that takes the loop recorder's content keeps it in
// its step, and undo and redo trade it with what the recorder then holds, so
// no take is ever dropped. GUI thread only, like every edit; the audio
// thread meets a state put back only through the idea collection's and the
// recorder's own pointer swaps.
class EditHistory
{
public:
    static constexpr std::size_t MAX_STEPS = 200;

    // The edit returns 0 when it did something; it sets taken when it took
    // the loop recorder's content.
    using Edit = std::function<int(LoopRecorder::Content& taken)>;

    explicit EditHistory(ZubEngine& engine);
    ~EditHistory();

    EditHistory(const EditHistory&) = delete;
    EditHistory& operator=(const EditHistory&) = delete;

    // Runs the edit and, when the song changed, keeps it as a step named
    // name ("Delete Idea"), dropping whatever could be redone. An edit made
    // inside another, or while a step is put back, is part of that one.
    int perform(const std::string& name, const Edit& edit);
    int perform(const std::string& name, const std::function<int()>& edit);

    // Each returns 0, or 1 with a log line when there is nothing to undo
    // (redo); nothing changes then.
    int undo();
    int redo();
    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    // The name of the step undo (redo) would take back; empty for none.
    std::string undoName() const;
    std::string redoName() const;
    // Forgets every step (a new or opened song) and lets go of what only
    // they held.
    void clear();

    // Runs after every change of the steps, for the window's Edit menu.
    void setChangedNotification(std::function<void()> notification) { m_changed = std::move(notification); }

    // { "history" : { "undo" : name, "redo" : name } }
    void toJson(Json::Value& root) const;

private:
    struct SongState
    {
        IdeaCollection::State ideas;
        double bpm = 0.0;
        DrumLoopPlayer::State drums;
    };
    struct Step
    {
        std::string name;
        SongState before;
        SongState after;
        bool tradesRecorder = false;
        LoopRecorder::Content recorder;
    };

    SongState capture() const;
    void apply(const SongState& state);
    void putBack(Step& step, const SongState& state);
    int move(std::deque<Step>& from, std::deque<Step>& to, bool undoing);
    static bool sameSong(const SongState& a, const SongState& b);
    void changed();
    void release();

    ZubEngine& m_engine;
    std::deque<Step> m_undo;
    std::deque<Step> m_redo;
    int m_iDepth = 0;
    std::function<void()> m_changed;
};
