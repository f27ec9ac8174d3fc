// The host's command window: where utPrintf and friends write. Process-wide; the default sink
// writes to standard output and flushes, so text interleaves correctly with other streams.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "host/host_api.hpp"

namespace vhost {

using OutputSink = std::function<void(std::string_view)>;

// Installs `sink` (an empty function restores the default) and returns the one it replaces.
// The sink may be called from any thread, and concurrently.
HOST_API OutputSink setOutputSink(OutputSink sink);
// Writes `text` to the calling thread's redirection when one is active, else the current sink.
HOST_API void writeOutput(std::string_view text);
// Writes error text (warnings shown while a request runs): to the calling thread's error
// redirection when one is active, else as ordinary output.
HOST_API void writeError(std::string_view text);

// While alive, sends the calling thread's output to `out` and its error text to `err` (an empty
// function leaves that stream as it was). Used by the engine to route what one request prints to
// the streams the request was given. Nests; must end on the thread that made it.
class HOST_API ThreadOutputRedirect {
public:
    ThreadOutputRedirect(OutputSink out, OutputSink err);
    // The same with sinks the caller keeps (null: that stream as it was); they must outlive the
    // redirection. Nothing is copied: for a caller that redirects once per request.
    ThreadOutputRedirect(const OutputSink* out, const OutputSink* err) noexcept;
    ~ThreadOutputRedirect();
    ThreadOutputRedirect(const ThreadOutputRedirect&) = delete;
    ThreadOutputRedirect& operator=(const ThreadOutputRedirect&) = delete;

private:
    const OutputSink* m_previousOut;
    const OutputSink* m_previousErr;
    OutputSink m_out, m_err;
};

// Collects all command-window output into a string while it lives (for tests and tools that
// want the output as a value). Restores the previous sink when destroyed.
class HOST_API OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    std::string text() const;
    // Returns the text collected so far and starts afresh.
    std::string take();

private:
    // Shared with the installed sink, so a write still in flight on another thread when the
    // capture ends lands in live memory.
    struct Buffer {
        std::mutex mutex;
        std::string text;
    };
    std::shared_ptr<Buffer> m_buffer;
    OutputSink m_previous;
};

}  // namespace vhost
