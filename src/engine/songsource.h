#pragma once

#include "core/playbackengine.h"
#include "core/zubtypes.h"

#include <cstddef>
#include <vector>

class Idea;
class IdeaCollection;

// A song for a render: ideas one after another, each from its start for the
// length of its longest loop, with the mute pattern it keeps for its own
// loops (clones share loops, so the pattern is put on before each idea).
// Ideas are found by id at every block: one deleted meanwhile is skipped. GUI
// thread, while the live stream is stopped; at the end the playing idea gets
// its own pattern back.
class SongSource : public PlaybackEngine
{
public:
    // Every idea with loops, in the collection's order.
    explicit SongSource(IdeaCollection& ideas);
    // The one idea alone.
    SongSource(IdeaCollection& ideas, int32 ideaId);
    ~SongSource();

    SongSource(const SongSource&) = delete;
    SongSource& operator=(const SongSource&) = delete;

    int64 lengthFrames() const;
    std::size_t numSections() const { return m_sections.size(); }
    void process(float* out, int numFrames) override;

private:
    struct Section {
        int32 ideaId;
        int64 frames;
    };
    void addSection(const Idea& idea);
    Idea* find(int32 id) const;

    IdeaCollection& m_ideas;
    std::vector<Section> m_sections;
    std::size_t m_current = 0;
    int64 m_posInSection = 0;
    bool m_bEntered = false;
};
