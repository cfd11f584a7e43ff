#pragma once

#include "core/timedmidieventlist.h"
#include "core/zubtypes.h"

#include <memory>
#include <string>
#include <vector>

class LoopAudio;
class ZubEngine;

// The song as it stands, held by reference: what a save writes. Taken on the
// message thread in a few pointer copies, without stopping the audio; read on
// any thread afterwards, however the song changes meanwhile.
struct SongSnapshot
{
    struct LoopEntry
    {
        std::shared_ptr<const LoopAudio> audio;
        int64 frames = 0;
        std::shared_ptr<const TimedMidiEventList> notes;
        int32 numBeats = 0;
        bool muted = false; // as the idea wants it
    };
    struct IdeaEntry
    {
        std::string name;
        std::string fileName; // the safe file and folder name
        bool active = false;
        std::vector<LoopEntry> loops;
    };

    float bpm = 120.0f;
    // The ideas that have loops (nothing of the others would come back), in order.
    std::vector<IdeaEntry> ideas;
    // The project's change count when taken: a save clears the unsaved mark
    // only when nothing changed since.
    uint64_t changeCount = 0;

    // Message thread.
    static SongSnapshot take(ZubEngine& engine);
};
