// The call stack as text, from glibc's backtrace(). Names come from the dynamic symbol tables
// (dladdr), so functions that are not exported show as their library and offset only.
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "host/exceptions.hpp"

namespace host {
namespace {

constexpr int kMaxFrames = 128;
constexpr int kOwnFramesSearched = 4;

std::string demangle(const char* name) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
    return status == 0 && out ? std::string(out.get()) : std::string(name);
}

std::string describeFrame(void* address) {
    char offset[32];
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname) {
        std::snprintf(offset, sizeof offset, "%p", address);
        return std::string("?? [") + offset + "]";
    }
    std::string text;
    if (info.dli_sname) {
        auto delta = static_cast<const char*>(address) - static_cast<const char*>(info.dli_saddr);
        std::snprintf(offset, sizeof offset, "+0x%tx", delta);
        text = demangle(info.dli_sname) + offset + " ";
    }
    auto delta = static_cast<const char*>(address) - static_cast<const char*>(info.dli_fbase);
    std::snprintf(offset, sizeof offset, "+0x%tx", delta);
    return text + "(" + info.dli_fname + offset + ")";
}

}  // namespace

std::string captureStackTrace() {
    void* frames[kMaxFrames];
    int count = backtrace(frames, kMaxFrames);
    std::string text;
    // The caller wants the stack from its own frame down. Frame 0 is normally this function,
    // but an instrumented backtrace() (sanitizers) may report frames of its own before it.
    int first = 1;
    for (int i = 0; i < count && i < kOwnFramesSearched; ++i) {
        Dl_info info{};
        if (dladdr(frames[i], &info) != 0 && info.dli_saddr == reinterpret_cast<void*>(&captureStackTrace)) {
            first = i + 1;
            break;
        }
    }
    for (int i = first; i < count; ++i) {
        text += "  #" + std::to_string(i - first) + " " + describeFrame(frames[i]) + "\n";
    }
    return text;
}

}  // namespace host
