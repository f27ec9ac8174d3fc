// What `orb check` says of a module file, and `orb build --check` of the module it built: the
// Inspector's findings (names, interface generations, the embedded version) and the load
// readiness (would the loader map it, find its entry point and survive its start-up code), as one
// verdict. A file the loader refuses never has the verdict ok.
//
// The findings, in order:
//   - a file that cannot be examined (ENONAME, ENOFILE, ENOREAD): that alone;
//   - else the readiness refusal, then the Inspector's error; the Inspector's ENOTORB is left out
//     under a refusal that says more (a damaged file, one of another platform). For a file of
//     another binary format (a Windows module, or no binary at all) the Inspector's error comes
//     instead, as it names what is wrong with the file itself;
//   - with no error, the Inspector's upgrade recommendations.
// The start-up step runs only for a file with no error so far.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "orbfile/inspector.hpp"
#include "orbfile/load_readiness.hpp"
#include "platform/export.hpp"

namespace orbfile {

struct CheckOptions {
    bool strict = true;          // the Inspector's upgrade rules (and its one strict error rule)
    bool runStartupCode = true;  // prove the start-up code in a copy of the process; false runs
                                 // nothing of the module anywhere (a module whose version only
                                 // its version function knows then gets ENOTORB)
};

class ORB_API ModuleVerdict {
public:
    enum class Kind { Ok, Upgrade, Error };
    struct Finding {
        std::string id;  // "ELNKAPI", "EBADBIN", ...: an Inspector or a LoadReadiness identifier
        bool error = false;  // the module cannot be used; else an upgrade is recommended
        std::u16string reason;
        std::u16string action;
        std::vector<std::u16string> symbols;
    };

    // What checkModule does.
    ModuleVerdict(const std::u16string& path, const CheckOptions& options);

    Kind kind() const noexcept;
    bool has_error() const noexcept { return kind() == Kind::Error; }
    const std::vector<Finding>& findings() const noexcept { return m_findings; }
    // The start-up step was left out at the caller's request, where it would have run: the
    // verdict does not cover the module's start-up code.
    bool startup_skipped() const noexcept { return m_startupSkipped; }
    // For the summary, the classification log and the symbol names.
    Inspector& inspector() noexcept { return *m_inspector; }
    const Inspector& inspector() const noexcept { return *m_inspector; }

private:
    std::unique_ptr<Inspector> m_inspector;
    std::vector<Finding> m_findings;
    bool m_startupSkipped = false;
};

// Inspects the file at `path` and checks that it would load. Never throws for a bad file. Runs
// the start-up code (unless told not to) in a forked copy of the process; nothing of the module
// runs in the calling process except a version function the Inspector reads by loading the file.
inline ModuleVerdict checkModule(const std::u16string& path, const CheckOptions& options = {}) {
    return ModuleVerdict(path, options);
}

}  // namespace orbfile
