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

}  // namespace

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
    if (auto sink = currentSink()) {
        (*sink)(text);
    } else {
        writeToStdout(text);
    }
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
