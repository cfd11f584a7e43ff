#include "engine/songsnapshot.h"

#include "engine/ideafilenames.h"
#include "engine/project.h"
#include "engine/transport.h"
#include "engine/zubengine.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"

SongSnapshot SongSnapshot::take(ZubEngine& engine)
{
    SongSnapshot song;
    song.bpm = engine.transport()->bpm();
    song.changeCount = engine.project()->changeCount();
    const IdeaCollection::State state = engine.ideaCollection()->capture();
    std::vector<std::string> names;
    for (std::size_t i = 0; i < state.ideas->size(); ++i) {
        const Idea::Content& content = *state.contents[i];
        if (content.loops.empty())
            continue;
        IdeaEntry idea;
        idea.name = content.name;
        idea.active = (*state.ideas)[i]->id() == state.activeIdeaId;
        for (std::size_t j = 0; j < content.loops.size(); ++j) {
            const Loop::Content loop = content.loops[j]->content();
            const bool muted = j < content.loopStates.size() ? bool(content.loopStates[j]) : loop.muted;
            idea.loops.push_back({ loop.audio, loop.frames, loop.notes, loop.numBeats, muted });
        }
        names.push_back(idea.name);
        song.ideas.push_back(std::move(idea));
    }
    names = IdeaFileNames::forIdeas(names);
    for (std::size_t i = 0; i < song.ideas.size(); ++i)
        song.ideas[i].fileName = names[i];
    return song;
}
