// Running a piece of work where a crash cannot take the caller down with it.
//
// Inspecting a module file may load it (to run its version function), and the system's loader
// trusts the file: a damaged library can make it fault or abort. The tools inspect files they
// know nothing about, so they run each inspection isolated: on POSIX in a forked copy of the
// process, whose text comes back through a pipe. The caller's state is never changed by the work.
#pragma once

#include <functional>
#include <string>

#include "platform/export.hpp"

namespace orb::platform {

struct IsolatedOutcome {
    bool completed = false;  // the work returned and its whole text arrived
    int status = 0;          // what the work returned; else the exit status or signal that ended it
    bool signalled = false;  // ended by a signal
    bool timedOut = false;   // stopped after the time limit
    bool running = false;    // timed out while running (not waiting for anything)
    std::string output;      // the text the work produced (empty unless completed)
};

// Runs `work`, which writes its text into the string it is given and returns a status (0..255).
// Waits at most `seconds`, then ends the work. Call it only while the process runs one thread:
// a forked copy holds no other thread, and a lock another thread held would stay locked in it.
ORB_API IsolatedOutcome runIsolated(const std::function<int(std::string&)>& work, unsigned seconds);

// How a library's start-up code fared in a copy of the process.
struct StartupVerdict {
    enum Kind {
        Proved,     // the library mapped and its start-up code ran to the end
        NotMapped,  // the system loader refused it before running any start-up code (a missing
                    // function or library, not a library at all); mapping it here fails the same way
        Failed,     // its start-up code faulted, aborted, threw, called exit() or never ended
    };
    Kind kind = Proved;
    std::string reason;  // NotMapped: the system loader's; Failed: "its start-up code failed:
                         // signal 11 (Segmentation fault)", "its start-up code threw
                         // std::runtime_error: TEXT", "... called exit()", "... no answer
                         // within N seconds"
};

// Work for the copy once the library is mapped and its start-up code has run: `run` answers why
// the library would still be refused ("" when it would not). `what` names the module code it
// runs, for a failure the copy describes itself ("<what> failed: signal 11 (Segmentation
// fault)", "<what> called exit()", "<what> threw ...").
struct InCopyCheck {
    const char* what;
    std::string (*run)(void* library);
};

// Maps the library at `nativePath` (resolving every symbol now, as the host does) in a forked copy
// of the process whose standard streams go nowhere, so that its start-up code runs there first,
// then runs `alsoInCopy` there (when given; a refusal is Failed with its reason) and ends the copy
// at once. Without `alsoInCopy` the copy runs only the system loader
// and the library's start-up code, so any thread may call this while others run. A copy made
// while another thread was inside the system loader may find the loader's locks held for good;
// such a copy is ended and another made (the first one to find them free gets 3 seconds, a
// second one all of `seconds`).
ORB_API StartupVerdict probeLibraryStartup(const std::string& nativePath, unsigned seconds,
                                           const InCopyCheck* alsoInCopy = nullptr);

// How unloading a library fared. Unloading runs the library's unload-time code (its finalisers and
// the destructors of its static objects) inside the system loader, which holds its lock meanwhile:
// like start-up code, a fault there cannot be jumped out of, so such code is run in a copy first.
struct UnloadVerdict {
    enum Kind {
        Unloaded,  // unmapped (its unload code, if any, proved itself in a copy first)
        Failed,    // its unload code faulted, aborted, threw, called exit() or ran on without end
                   // in the copy: the library stays mapped and its code is retired
        Waits,     // its unload code waited, in the copy, for what only this process has (a
                   // thread of its own, another thread's lock): the library stays mapped as it is
    };
    Kind kind = Unloaded;
    std::string reason;   // "its unload code failed: signal 11 (Segmentation fault)", ...
    std::string library;  // the file the library was mapped from
};

// Unmaps `library` (which the host loader mapped; this process holds a reference to it) in a
// forked copy of the process, and answers Unloaded when its unload code ran to the end there,
// else how it failed (Failed, or Waits when the copy stopped to wait twice within `seconds` rather
// than running on). Call it holding the loader gate, which it holds across the fork: the copy must
// not be made while another of the runtime's loads or unloads is halfway done.
ORB_API UnloadVerdict probeLibraryUnload(void* library, unsigned seconds);

// A description of an outcome that did not complete: "signal 11 (Segmentation fault)", "exit
// status 127", "no answer within 30 seconds".
ORB_API std::string describeFailure(const IsolatedOutcome& outcome, unsigned seconds);

}  // namespace orb::platform
