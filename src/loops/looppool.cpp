#include "loops/looppool.h"

#include "core/log.h"
#include "loops/loop.h"

namespace {

constexpr std::size_t kNumIds = 32768;

} // namespace

std::shared_ptr<Loop> LoopPool::createLoop()
{
    auto loop = std::make_shared<Loop>();
    return adopt(loop) == 0 ? loop : nullptr;
}

int LoopPool::adopt(const std::shared_ptr<Loop>& loop)
{
    const auto held = m_loops.find(loop->id());
    if (held != m_loops.end() && held->second == loop)
        return 0;
    if (m_loops.size() >= kNumIds) {
        logError() << "LoopPool is full: no loop id left";
        return 1;
    }
    // Ids are only 15 bits wide, so collisions happen: keep one loop per id.
    while (m_loops.count(loop->id())) {
        reportCollision(loop->id());
        loop->setId(Loop::drawId());
    }
    m_loops.emplace(loop->id(), loop);
    return 0;
}

void LoopPool::reportCollision(int32 id) const
{
    logError() << "Duplicate loop id detected! New ID: " << id;
    logError() << "Contents of LoopPool:";
    for (const auto& entry : m_loops)
        logError() << "\t" << entry.first;
}

std::shared_ptr<Loop> LoopPool::getLoop(int32 id) const
{
    const auto it = m_loops.find(id);
    if (it == m_loops.end()) {
        logError() << "Failed to find loop with loop id " << id << " in pool.";
        return {};
    }
    return it->second;
}

void LoopPool::collectGarbage()
{
    logInfo() << "Running garbage collection...";
    logInfo() << "Number of loops in pool: " << m_loops.size();
    for (auto it = m_loops.begin(); it != m_loops.end();) {
        if (it->second.use_count() == 1) {
            logInfo() << "erasing " << it->first;
            it = m_loops.erase(it);
        } else {
            ++it;
        }
    }
}
