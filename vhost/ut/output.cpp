#include "vhost/ut/output.hpp"

#include <cstdio>
#include <memory>
#include <utility>

namespace vhost {
namespace {

void writeToStdout(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// The sink is shared so that a writer can call it outside the lock: a sink that itself prints,
// or one replaced while a write is under way, must not deadlock.
std::mutex g_sinkMutex;
std::shared_ptr<const OutputSink> g_sink;

std::shared_ptr<const OutputSink> currentSink() {
    std::lock_guard lock(g_sinkMutex);
    return g_sink;
}

// Both in one object, in the initial-exec model (this library is loaded with the program): every
// request of an engine sets and restores both, and the general model costs a look-up call per
// object reached.
struct Redirection {
    const OutputSink* out;
    const OutputSink* err;
};
thread_local Redirection t_redirection __attribute__((tls_model("initial-exec"))){nullptr, nullptr};

}  // namespace

ThreadOutputRedirect::ThreadOutputRedirect(OutputSink out, OutputSink err)
    : m_previousOut(t_redirection.out), m_previousErr(t_redirection.err), m_out(std::move(out)),
      m_err(std::move(err)) {
    Redirection& now = t_redirection;
    if (m_out) now.out = &m_out;
    if (m_err) now.err = &m_err;
}

ThreadOutputRedirect::ThreadOutputRedirect(const OutputSink* out, const OutputSink* err) noexcept
    : m_previousOut(nullptr), m_previousErr(nullptr) {
    Redirection& now = t_redirection;
    const Redirection previous = now;
    m_previousOut = previous.out;
    m_previousErr = previous.err;
    now = {out ? out : previous.out, err ? err : previous.err};
}

ThreadOutputRedirect::~ThreadOutputRedirect() {
    t_redirection = {m_previousOut, m_previousErr};
}

OutputSink setOutputSink(OutputSink sink) {
    auto replacement = sink ? std::make_shared<const OutputSink>(std::move(sink)) : nullptr;
    std::shared_ptr<const OutputSink> previous;
    {
        std::lock_guard lock(g_sinkMutex);
        previous = std::exchange(g_sink, std::move(replacement));
    }
    return previous ? *previous : OutputSink();
}

void writeOutput(std::string_view text) {
    if (const OutputSink* redirected = t_redirection.out) {
        (*redirected)(text);
        return;
    }
    if (auto sink = currentSink()) {
        (*sink)(text);
    } else {
        writeToStdout(text);
    }
}

void writeError(std::string_view text) {
    if (const OutputSink* redirected = t_redirection.err) {
        (*redirected)(text);
        return;
    }
    writeOutput(text);
}

OutputCapture::OutputCapture()
    : m_buffer(std::make_shared<Buffer>()),
      m_previous(setOutputSink([buffer = m_buffer](std::string_view text) {
          std::lock_guard lock(buffer->mutex);
          buffer->text.append(text);
      })) {}

OutputCapture::~OutputCapture() { setOutputSink(std::move(m_previous)); }

std::string OutputCapture::text() const {
    std::lock_guard lock(m_buffer->mutex);
    return m_buffer->text;
}

std::string OutputCapture::take() {
    std::lock_guard lock(m_buffer->mutex);
    return std::exchange(m_buffer->text, std::string());
}

}  // namespace vhost
