// UTF-16 stream buffers that carry what a host request prints to a C++ module's own streams.
//
// A module passes an opaque stream object with two callbacks: `write` receives UTF-16 text (not
// terminated) and `deleter` releases the stream. engineStreamBuffer forwards every write; the
// shared pointer that owns it calls the module's deleter exactly once, when the host has also
// dropped its references (possibly on a host thread after the request completed).
// NullStreambuf drops everything.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <streambuf>

#include "host/engine.hpp"
#include "platform/export.hpp"

namespace orb::cppapi {

using ModuleWriteFcn = void (*)(void* stream, const char16_t* text, std::size_t count);
using ModuleDeleterFcn = void (*)(void* stream);

class ORB_API engineStreamBuffer : public std::basic_streambuf<char16_t> {
public:
    // An empty `write` makes every write fail with std::bad_function_call. `module` (the module's
    // engine handle) is charged with a fault in `write`.
    engineStreamBuffer(void* stream, ModuleWriteFcn write, void* module = nullptr);
    ~engineStreamBuffer() override;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char16_t* text, std::streamsize count) override;

private:
    void write(const char16_t* text, std::size_t count);

    void* m_stream;
    std::function<void(void*, const char16_t*, std::size_t)> m_write;
    void* m_module;
};

class ORB_API NullStreambuf : public std::basic_streambuf<char16_t> {
protected:
    int_type overflow(int_type c) override { return c; }
};

// One NullStreambuf for every request that drops a stream: it has no buffer and no state, so
// any number of threads may write to it at once.
ORB_API const std::shared_ptr<host::u16streambuf>& sharedNullStreambuf();

// The module stream in shared ownership: null when `stream` is null. A fault in the write or the
// deleter is charged to `module` (its engine handle), which is refused from then on.
ORB_API std::shared_ptr<host::u16streambuf> wrapModuleStream(void* stream, ModuleWriteFcn write,
                                                             ModuleDeleterFcn deleter, void* module = nullptr);

}  // namespace orb::cppapi
