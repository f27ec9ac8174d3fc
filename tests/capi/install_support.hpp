// Callback tables for the installation tests: every slot holds a distinct marker address, so a
// snapshot of the library's slots shows which table (and which slot of it) each came from. The
// markers are never called.
#pragma once

#include <cstdint>
#include <cstring>

#include "capi/callback_table.hpp"

namespace orbtest {

// The host's table as the ABI describes it: 22 pointer-sized entries, slot by slot.
inline OrbCallbackTable markerTable(std::uintptr_t tableNumber) {
    void* entries[kOrbCallbackSlotCount];
    for (std::uintptr_t slot = 0; slot < kOrbCallbackSlotCount; ++slot) {
        entries[slot] = reinterpret_cast<void*>(0x10000 * (tableNumber + 1) + 0x10 * slot);
    }
    OrbCallbackTable table;
    static_assert(sizeof table == sizeof entries);
    std::memcpy(&table, entries, sizeof table);
    return table;
}

// The entry in `slot` of `table`, read by position.
inline void* entryAt(const OrbCallbackTable& table, std::size_t slot) {
    void* entries[kOrbCallbackSlotCount];
    std::memcpy(entries, &table, sizeof entries);
    return entries[slot];
}

inline OrbCallFunctionCallback markerCall(std::uintptr_t n) {
    return reinterpret_cast<OrbCallFunctionCallback>(0x900000 + 0x10 * n);
}

}  // namespace orbtest
