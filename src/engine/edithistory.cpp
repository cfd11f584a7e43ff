#include "engine/edithistory.h"

#include "core/log.h"
#include "engine/project.h"
#include "engine/transport.h"
#include "engine/zubengine.h"
#include "loops/looppool.h"

#include <utility>

namespace {

bool sameContent(const std::shared_ptr<const Idea::Content>& a, const std::shared_ptr<const Idea::Content>& b)
{
    if (a == b)
        return true;
    return a && b && a->name == b->name && a->mute == b->mute && a->loops == b->loops
        && a->loopStates == b->loopStates;
}

} // namespace

EditHistory::EditHistory(ZubEngine& engine)
    : m_engine(engine)
{
}

EditHistory::~EditHistory() = default;

EditHistory::SongState EditHistory::capture() const
{
    // The tempo the song plays at: a kept take brings its own before the
    // saved tempo follows it.
    return { m_engine.ideaCollection()->capture(), double(m_engine.transport()->bpm()),
        m_engine.drumLoopPlayer()->state() };
}

// Which idea is selected is not an edit of the song.
bool EditHistory::sameSong(const SongState& a, const SongState& b)
{
    if (a.bpm != b.bpm || !(a.drums == b.drums))
        return false;
    const IdeaCollection::IdeaList& ideasA = *a.ideas.ideas;
    const IdeaCollection::IdeaList& ideasB = *b.ideas.ideas;
    if (ideasA != ideasB)
        return false;
    for (std::size_t i = 0; i < ideasA.size(); ++i)
        if (!sameContent(a.ideas.contents[i], b.ideas.contents[i]))
            return false;
    return true;
}

int EditHistory::perform(const std::string& name, const std::function<int()>& edit)
{
    return perform(name, [&edit](LoopRecorder::Content&) { return edit(); });
}

int EditHistory::perform(const std::string& name, const Edit& edit)
{
    LoopRecorder::Content taken;
    if (m_iDepth > 0)
        return edit(taken);
    ++m_iDepth;
    Step step { name, capture(), {}, false, {} };
    const int result = edit(taken);
    step.after = capture();
    --m_iDepth;
    step.tradesRecorder = taken.audio != nullptr;
    step.recorder = std::move(taken);
    if (!step.tradesRecorder && sameSong(step.before, step.after))
        return result;
    m_undo.push_back(std::move(step));
    const bool dropped = m_undo.size() > MAX_STEPS || !m_redo.empty();
    if (m_undo.size() > MAX_STEPS)
        m_undo.pop_front();
    m_redo.clear();
    if (dropped)
        release();
    changed();
    return result;
}

// The tempo first, through the engine's own tempo change (which re-times the
// drum loop of the state being put back), then the ideas as they were.
void EditHistory::apply(const SongState& state)
{
    DrumLoopPlayer* drums = m_engine.drumLoopPlayer();
    drums->restore(state.drums);
    if (double(m_engine.transport()->bpm()) != state.bpm)
        m_engine.setTempo(float(state.bpm), ZubEngine::TempoSource::History);
    drums->restore(state.drums);
    m_engine.ideaCollection()->restore(state.ideas);
}

// The recorder's content and the step's trade places, so that what was
// recorded since stays in the step for the way back.
void EditHistory::putBack(Step& step, const SongState& state)
{
    ++m_iDepth;
    LoopRecorder* recorder = m_engine.loopRecorder();
    LoopRecorder::Content current;
    if (step.tradesRecorder)
        current = recorder->takeContent();
    apply(state);
    if (step.tradesRecorder) {
        recorder->putContent(step.recorder);
        step.recorder = std::move(current);
    }
    --m_iDepth;
}

int EditHistory::undo()
{
    return move(m_undo, m_redo, true);
}

int EditHistory::redo()
{
    return move(m_redo, m_undo, false);
}

// The last step of one list is put back (as before it, or as after it) and
// goes to the other.
int EditHistory::move(std::deque<Step>& from, std::deque<Step>& to, bool undoing)
{
    if (from.empty()) {
        logInfo() << (undoing ? "Nothing to undo" : "Nothing to redo");
        return 1;
    }
    Step step = std::move(from.back());
    from.pop_back();
    logInfo() << (undoing ? "Undo " : "Redo ") << step.name;
    putBack(step, undoing ? step.before : step.after);
    to.push_back(std::move(step));
    changed();
    return 0;
}

std::string EditHistory::undoName() const
{
    return m_undo.empty() ? std::string() : m_undo.back().name;
}

std::string EditHistory::redoName() const
{
    return m_redo.empty() ? std::string() : m_redo.back().name;
}

void EditHistory::clear()
{
    if (m_undo.empty() && m_redo.empty())
        return;
    m_undo.clear();
    m_redo.clear();
    release();
    changed();
}

// Loops that only dropped steps held leave the pool, and their audio goes.
void EditHistory::release()
{
    m_engine.loopPool()->collectGarbage();
}

void EditHistory::changed()
{
    if (m_changed)
        m_changed();
}

void EditHistory::toJson(Json::Value& root) const
{
    Json::Value& state = root["history"];
    state["undo"] = undoName();
    state["redo"] = redoName();
}
