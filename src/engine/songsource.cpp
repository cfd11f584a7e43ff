#include "engine/songsource.h"

#include "loops/idea.h"
#include "loops/ideacollection.h"

#include <algorithm>

SongSource::SongSource(IdeaCollection& ideas)
    : m_ideas(ideas)
{
    if (Idea* active = m_ideas.activeIdea())
        active->saveLoopStates();
    for (const Idea* idea : m_ideas.ideas())
        addSection(*idea);
}

SongSource::SongSource(IdeaCollection& ideas, int32 ideaId)
    : m_ideas(ideas)
{
    if (Idea* active = m_ideas.activeIdea())
        active->saveLoopStates();
    if (const Idea* idea = find(ideaId))
        addSection(*idea);
}

SongSource::~SongSource()
{
    if (Idea* active = m_ideas.activeIdea())
        active->activate(true);
}

void SongSource::addSection(const Idea& idea)
{
    const int64 frames = idea.maxLoopLengthFrames();
    if (frames > 0)
        m_sections.push_back({ idea.id(), frames });
}

Idea* SongSource::find(int32 id) const
{
    for (Idea* idea : m_ideas.ideas())
        if (idea->id() == id)
            return idea;
    return nullptr;
}

int64 SongSource::lengthFrames() const
{
    int64 total = 0;
    for (const Section& s : m_sections)
        total += s.frames;
    return total;
}

void SongSource::process(float* out, int numFrames)
{
    int done = 0;
    while (done < numFrames && m_current < m_sections.size()) {
        const Section& section = m_sections[m_current];
        Idea* idea = find(section.ideaId);
        if (idea && !m_bEntered) {
            idea->activate(true);
            idea->syncPlayPos(0);
            m_bEntered = true;
        }
        const int n = int(std::min<int64>(numFrames - done, section.frames - m_posInSection));
        if (idea)
            idea->process(out + done * ZUB_FRAMESIZE, n);
        done += n;
        m_posInSection += n;
        if (m_posInSection == section.frames) {
            ++m_current;
            m_posInSection = 0;
            m_bEntered = false;
        }
    }
}
