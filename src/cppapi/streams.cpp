#include "cppapi/streams.hpp"

#include "cppapi/async.hpp"
#include "platform/module_boundary.hpp"

namespace orb::cppapi {

namespace {

bool faulted(const platform::ModuleOutcome& outcome) noexcept {
    using Kind = platform::ModuleOutcome::Kind;
    return outcome.kind() == Kind::MachineFault || outcome.kind() == Kind::Abort;
}

}  // namespace

engineStreamBuffer::engineStreamBuffer(void* stream, ModuleWriteFcn write, void* module)
    : m_stream(stream), m_module(module) {
    if (write) m_write = write;
}

engineStreamBuffer::~engineStreamBuffer() = default;

// The write function is module code: a failure in it fails the host code that was printing. A
// fault is the module's, though the host's frames between hear it first: charged here. A buffer
// made without a write function has nothing of the module to run.
void engineStreamBuffer::write(const char16_t* text, std::size_t count) {
    if (!m_write) throw std::bad_function_call();
    const platform::ModuleOutcome outcome = platform::callModuleCode([&] { m_write(m_stream, text, count); });
    if (faulted(outcome)) chargeCallbackFault(m_module, outcome.signal());
    outcome.raise();
}

engineStreamBuffer::int_type engineStreamBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
    const char16_t unit = traits_type::to_char_type(c);
    write(&unit, 1);
    return 1;
}

std::streamsize engineStreamBuffer::xsputn(const char16_t* text, std::streamsize count) {
    write(text, static_cast<std::size_t>(count));
    return count;
}

const std::shared_ptr<host::u16streambuf>& sharedNullStreambuf() {
    // Never destroyed: a request still running while the process exits may write to it. Handed
    // out without an owner, so that copies made on one thread and dropped on another (a request
    // each) share no reference count.
    static NullStreambuf* const instance = new NullStreambuf;
    static const auto* const buffer = new std::shared_ptr<host::u16streambuf>(std::shared_ptr<void>(), instance);
    return *buffer;
}

std::shared_ptr<host::u16streambuf> wrapModuleStream(void* stream, ModuleWriteFcn write, ModuleDeleterFcn deleter,
                                                     void* module) {
    if (!stream) return nullptr;
    return std::shared_ptr<host::u16streambuf>(new engineStreamBuffer(stream, write, module),
                                               [stream, deleter, module](host::u16streambuf* buffer) {
                                                   // Module code, in a deleter that may not throw.
                                                   const platform::ModuleOutcome outcome =
                                                       platform::callModuleCode([&] { deleter(stream); });
                                                   if (faulted(outcome)) chargeCallbackFault(module, outcome.signal());
                                                   delete buffer;
                                               });
}

}  // namespace orb::cppapi
