// The report `orb check` gives on module files, printed by one function for every command that
// reports on a module (orb check itself, orb build --check on the module it built), so that they
// never disagree.
#pragma once

#include <string>
#include <vector>

#include "check_advice.hpp"

namespace orbtool::check {

// What the report holds besides the verdict and the findings, and how it is written.
struct Settings {
    bool strict = true;
    bool startup = true;  // run the module's start-up code in a separate process
    bool summary = false;
    bool log = false;
    bool symbols = false;
    bool json = false;
    Layout layout;
};

// Inspects each of `files` in a process of its own (a module that crashes while it is read is
// reported, not fatal) and writes the report to standard output: for each file the verdict line
// and the findings with their fixes, or with `settings.json` one JSON document. Answers the exit
// status: kExitFailure when a file has an error (a missing file or a folder is one), else kExitOk.
int printReport(const std::vector<std::string>& files, const Settings& settings);

}  // namespace orbtool::check
