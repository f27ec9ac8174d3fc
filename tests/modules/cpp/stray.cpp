// A C++ module that leaves asynchronous requests behind, to see what the host does with them
// when it is idle, when the module is cleared, and while a call of the module holds the engine.
// The first input names an action:
//   stray('fault')                starts a request whose success callback writes through a null
//                                 pointer, and returns without waiting for it
//   stray('leave', N, AT, CLEAR)  starts N requests without waiting; with CLEAR true the first of
//                                 them evaluates "clear stray". Their callbacks count into the
//                                 caller's memory at address AT (a double): int calls[N], then
//                                 int codes[N] (0 for success, else the failure's code); with AT
//                                 0 they print what they got to standard error instead
//   stray('hold')                 a thread of its own waits for a request while this call joins
//                                 that thread; raises what the waiting thread was told
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include <orb_cpp.hpp>

namespace {

void faultNow(void*) {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}
void ignoreFailure(void*, int, void*) {}

// Where one request's callbacks report. Slots are the module's own storage, not allocated per
// request: an abandoned request's callbacks never run, so nothing could free its slot.
struct Slot {
    int* calls;
    int* codes;
    int index;
};
Slot g_slots[16];
void settled(Slot* slot, int code) {
    if (slot->calls) {
        ++slot->calls[slot->index];
        slot->codes[slot->index] = code;
    } else {
        std::fprintf(stderr, "stray: request %d settled with code %d\n", slot->index, code);
    }
}
void succeeded(void* slot) { settled(static_cast<Slot*>(slot), 0); }
void failed(void* slot, int code, void* data) {
    if (code == 1) orbDataRelease(data);
    settled(static_cast<Slot*>(slot), code);
}

}  // namespace

class OrbFunction : public orb::cpp::Function {
public:
    void operator()(orb::cpp::ArgumentList, orb::cpp::ArgumentList inputs) override {
        const std::string action = orb::data::CharArray(inputs[0]).toUTF8();
        if (action == "fault") {
            orbApiDestroyTaskHandle(reinterpret_cast<void*>(
                orbApiEvalAsync(m_handle, u"1;", &faultNow, &ignoreFailure, nullptr, nullptr, nullptr, nullptr, nullptr)));
        } else if (action == "leave") {
            const int count = static_cast<int>(orb::data::TypedArray<double>(inputs[1])[0]);
            const auto at = static_cast<std::uintptr_t>(orb::data::TypedArray<double>(inputs[2])[0]);
            const bool clearFirst = inputs.size() > 3 && orb::data::TypedArray<bool>(inputs[3])[0];
            int* calls = reinterpret_cast<int*>(at);
            for (int i = 0; i < count; ++i) {
                const char16_t* text = clearFirst && i == 0 ? u"clear stray" : u"1;";
                Slot* slot = &g_slots[i % 16];
                *slot = Slot{calls, calls ? calls + count : nullptr, i};
                orbApiDestroyTaskHandle(reinterpret_cast<void*>(
                    orbApiEvalAsync(m_handle, text, &succeeded, &failed, slot, nullptr, nullptr, nullptr, nullptr)));
            }
        } else if (action == "hold") {
            auto engine = getEngine();
            std::optional<orb::cpp::Exception> told;
            std::thread waiter([&] {
                try {
                    engine->evalAsync(u"1;").get();
                } catch (const orb::cpp::Exception& error) {
                    told = error;
                }
            });
            waiter.join();
            if (told) throw *told;
        } else {
            throw orb::cpp::Exception("stray:action", "unknown action '" + action + "'");
        }
    }

private:
    // The engine handle as the C services take it (the base class keeps its own copy).
    void* m_handle = orbGetFunctionImpl();
};

#include <orb_cpp/module_entry.hpp>
