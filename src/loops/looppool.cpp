#include "loops/looppool.h"

#include "loops/loop.h"

#include <iostream>

namespace {

constexpr std::size_t kNumIds = 32768;

} // namespace

std::shared_ptr<Loop> LoopPool::createLoop()
{
    if (m_loops.size() >= kNumIds) {
        std::cerr << "LoopPool is full: no loop id left" << std::endl;
        return {};
    }
    auto loop = std::make_shared<Loop>();
    // Ids are only 15 bits wide, so collisions happen: keep one loop per id.
    while (m_loops.count(loop->id())) {
        reportCollision(loop->id());
        loop->setId(Loop::drawId());
    }
    m_loops.emplace(loop->id(), loop);
    return loop;
}

void LoopPool::reportCollision(int32 id) const
{
    std::cerr << "Duplicate loop id detected! New ID: " << id << std::endl;
    std::cerr << "Contents of LoopPool:" << std::endl;
    for (const auto& entry : m_loops)
        std::cerr << "\t" << entry.first << std::endl;
}

std::shared_ptr<Loop> LoopPool::getLoop(int32 id) const
{
    const auto it = m_loops.find(id);
    if (it == m_loops.end()) {
        std::cerr << "Failed to find loop with loop id " << id << " in pool." << std::endl;
        return {};
    }
    return it->second;
}

void LoopPool::collectGarbage()
{
    std::cout << "Running garbage collection..." << std::endl;
    std::cout << "Number of loops in pool: " << m_loops.size() << std::endl;
    for (auto it = m_loops.begin(); it != m_loops.end();) {
        if (it->second.use_count() == 1) {
            std::cout << "erasing " << it->first << std::endl;
            it = m_loops.erase(it);
        } else {
            ++it;
        }
    }
}
