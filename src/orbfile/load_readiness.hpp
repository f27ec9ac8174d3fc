// Whether the loader would load a module file: the questions the Inspector does not ask, answered
// the way the loader answers them, in the loader's order.
//
//   1. The check before mapping (objfile::checkLoadable): a damaged file (EBADBIN) or one of
//      another platform or binary format (EPLATFM) is never handed to the system loader.
//   2. The entry-point rule the loader uses (entry_points.hpp) over the names the file defines:
//      a C++ adapter without its create or destroy entry (ECPPENT), or none of the four entry
//      points (ENOENTP).
//   3. The start-up code, proved in a forked copy of the process as the loader proves it before
//      it maps a file (platform/startup_probe.hpp): the system loader refuses the file before
//      running anything, for a library or function it needs and cannot find (ENOLOAD), or the
//      start-up code faults, aborts, throws, exits or never ends (ESTARTUP). A C++ module's create
//      entry point then runs in the same copy, as the loader runs it (installCreateEntryTrial); a
//      create that fails or makes no function object is ESTARTUP too, its reason naming the
//      entry point. Nothing of the module runs in the checking process. This step can be left
//      out; it is then reported as skipped.
//
// The first refusal ends the check, so there is at most one finding. What is still not seen:
// start-up code or a create entry point that behaves differently the second time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/export.hpp"
#include "platform/isolated_call.hpp"

namespace objfile {
struct LoadCheck;
}

namespace orbfile {

// How a C++ module's create entry point is tried in the copy that proved its start-up code. The
// loader, which makes function objects and sits above this layer, installs its own way when the
// library is loaded; until one is installed the step is left out.
ORB_API void installCreateEntryTrial(const orb::platform::InCopyCheck& trial) noexcept;

class ORB_API LoadReadiness {
public:
    // Why the loader would refuse the file. All are errors.
    enum FindingID : unsigned char {
        EBADBIN = 0,   // an ELF file for this machine, cut short or inconsistent: never mapped
        EPLATFM = 1,   // a file of another platform (machine, class, byte order, system, format)
        ECPPENT = 2,   // a C++ module without its create or destroy entry point
        ENOENTP = 3,   // defines none of the entry points the loader accepts
        ENOLOAD = 4,   // the system loader refuses it: a library or function it needs is missing
        ESTARTUP = 5,  // its start-up code failed
    };

    struct Finding {
        FindingID id;
        std::u16string reason;                // catalogue text
        std::u16string action;                // catalogue text
        std::vector<std::u16string> symbols;  // ENOENTP: the names that look like an entry point
    };

    // What became of the start-up step.
    enum class Startup : unsigned char {
        Proved,      // it ran to the end in a copy of the process (now or earlier)
        Failed,      // ENOLOAD or ESTARTUP
        Skipped,     // the caller asked for it to be left out
        NotReached,  // an earlier step refused the file
    };

    // Checks the file at `path` (surrounding double quotes are ignored; the file is expected to
    // exist). `definedNames` are the names the file defines, in any order; `lookalikes` those of
    // them the classifier takes for the entry point (ApiDetector::FLAG_EP), in name order, which
    // ENOENTP lists. `runStartupCode` false leaves the start-up step out. Never throws for a bad
    // file.
    // `loadable` is checkBeforeMapping(path)'s answer, which a caller may have had made meanwhile.
    LoadReadiness(const std::u16string& path, const objfile::LoadCheck& loadable,
                  const std::vector<std::string_view>& definedNames, const std::vector<std::string_view>& lookalikes,
                  bool runStartupCode);

    // Step 1 alone: the check before mapping of the file at `path` (as above), over the file
    // mapped whole. Any thread; never throws for a bad file.
    static objfile::LoadCheck checkBeforeMapping(const std::u16string& path);

    // The name of a finding ("EBADBIN" ... "ESTARTUP").
    static const char16_t* FindingID2uchar(FindingID id);

    bool ready() const noexcept { return m_findings.empty(); }
    const std::vector<Finding>& get_findings() const noexcept { return m_findings; }
    Startup startup() const noexcept { return m_startup; }
    // The refusal is EPLATFM for a file that is no ELF file at all (a Windows module, or no
    // binary), whose symbol findings may say more than that it cannot be loaded here.
    bool is_other_binary_format() const noexcept { return m_otherFormat; }

private:
    // The steps, in order; the first refusal ends them.
    void check(const std::u16string& shown, const objfile::LoadCheck& loadable,
               const std::vector<std::string_view>& definedNames, const std::vector<std::string_view>& lookalikes,
               bool runStartupCode);
    void add(FindingID id, const std::u16string& path, const std::string& detail,
             std::vector<std::u16string> symbols = {});

    std::vector<Finding> m_findings;
    Startup m_startup = Startup::NotReached;
    bool m_otherFormat = false;
};

}  // namespace orbfile
