// Room for one entry of an engine's queue of posted work, kept inside the posted object itself.
//
// Posting links the entry into the queue with one exchange on the queue's newest entry and one
// store into the entry before it: a burst of posts from one thread and the signal thread running
// them meet on the entries themselves, not on a lock and a growing list.
#pragma once

#include <atomic>
#include <memory>

namespace host {

struct QueueLink {
    using Action = void (*)(void*);
    // The object (holding itself while queued, through `object`), what to do with it when its
    // turn comes and, when the engine ends first, instead.
    std::shared_ptr<void> object;
    Action run = nullptr;
    Action abandon = nullptr;
    // The queue's: the entry posted just after this one, once linked.
    std::atomic<QueueLink*> next{nullptr};
    // The queue's: made by the queue for work without room of its own, freed once taken.
    bool madeByQueue = false;
};

}  // namespace host
