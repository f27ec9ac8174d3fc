// What the array library freed on a caller's behalf, and what is alive: the figures behind leak
// reports (arrays and memory a module forgot to release are freed when its call's contexts are
// left, and counted here).
#pragma once

#include <cstddef>

#include "host/host_api.hpp"

namespace vhost::ry {

struct ContextReport {
    std::size_t arrays = 0;  // arrays that were tracked by the context (their elements not counted)
    std::size_t blocks = 0;  // memory blocks from ryCalloc, ryMalloc and friends
    std::size_t bytes = 0;   // bytes of those blocks and of the data of those arrays and their elements

    ContextReport& operator+=(const ContextReport& other) noexcept {
        arrays += other.arrays;
        blocks += other.blocks;
        bytes += other.bytes;
        return *this;
    }
    bool operator==(const ContextReport&) const = default;
};

// For the engine of the calling thread: what the last array-list context left freed, what the
// last allocation-list context left freed, and the two together (a module call leaves one of
// each, so after a call this is what the call freed on the module's behalf).
HOST_API ContextReport lastArrayListReport();
HOST_API ContextReport lastAllocListReport();
HOST_API ContextReport lastContextReport();
// Everything freed by leaving contexts on this engine since it started or since the last reset.
HOST_API ContextReport totalContextReport();
HOST_API void resetContextReports();

// Nesting depth of the engine's contexts (0 when only the engine's base context is current).
HOST_API std::size_t arrayListDepth();
HOST_API std::size_t allocListDepth();

// Process-wide: arrays alive (elements included), blocks handed to callers that are not yet
// freed, and bytes held in all blocks (caller memory and array data).
struct LiveCounts {
    std::size_t arrays = 0;
    std::size_t blocks = 0;
    std::size_t bytes = 0;
};
HOST_API LiveCounts liveCounts();

}  // namespace vhost::ry
