#pragma once

#include "core/zubtypes.h"

#include <map>
#include <memory>

class Loop;

// The owner of record of every loop, by id. Message thread only: the audio
// thread reaches loops through ideas, never through the pool.
class LoopPool
{
public:
    // A new loop under an id no other live loop has; empty when all 32,768
    // ids are taken.
    std::shared_ptr<Loop> createLoop();
    // A loop made elsewhere joins the pool, under a fresh id when its own is
    // taken by another loop. Returns 0, or 1 when every id is taken.
    int adopt(const std::shared_ptr<Loop>& loop);
    // Empty (with a log line) when the id is not in the pool.
    std::shared_ptr<Loop> getLoop(int32 id) const;
    // Drops every loop that only the pool still references.
    void collectGarbage();

    std::size_t size() const { return m_loops.size(); }

private:
    void reportCollision(int32 id) const;

    std::map<int32, std::shared_ptr<Loop>> m_loops;
};
