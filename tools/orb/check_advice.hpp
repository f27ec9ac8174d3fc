// What `orb check` tells a person about a module file: a one-line verdict, a short title for each
// finding, and the exact build command or source change that fixes it; and how the report is
// laid out (wrapped and coloured on a terminal, plain otherwise).
#pragma once

#include <string>
#include <vector>

#include "orbfile/module_verdict.hpp"

namespace orbtool::check {

// The words of the verdict: "error", "upgrade recommended" or "ok".
const char* verdictWord(const orbfile::ModuleVerdict& verdict);

// A few words saying what a finding is about ("mixes two array interface generations").
const char* findingTitle(const std::string& id);

// The one-line verdict after the file's name: the verdict word, and the title of what decides it
// ("error - mixes two array interface generations (ELNKAPI)"; "ok - can be used with this
// release").
std::string verdictLine(const orbfile::ModuleVerdict& verdict);

// What the fixes of one module's findings depend on besides the finding itself.
struct Module {
    bool isCpp = false;          // a C++ module
    bool separateParts = false;  // its code uses separate imaginary parts (UCOMPAT was found)
};
Module moduleOf(const orbfile::ModuleVerdict& verdict);

// What to type or change to fix `finding` of the module `file`: an orb build command line with the
// option that fits (the module's sources are named when a source of the module's name lies beside
// it or in the current folder, else written SOURCES), or the source change. Commands are quoted
// in backticks.
std::string fixFor(const orbfile::ModuleVerdict::Finding& finding, const std::string& file, const Module& module);

// The note on a verdict made without running the module's start-up code, or empty text.
std::string startupNote(const orbfile::ModuleVerdict& verdict);

// A note on a file that is a module of another platform (a Windows library inspected here), or
// empty text.
std::string platformNote(const std::string& file);

// The orb build interface options named in `text`, in the order they appear.
std::vector<std::string> buildOptionsIn(const std::string& text);

// How the text report is written.
struct Layout {
    bool colour = false;  // ANSI colours
    std::size_t width = 0;  // wrap at this many columns; 0: never wrap
};

// The layout for standard output: `colourChoice` is "auto", "always" or "never"; auto colours a
// terminal unless NO_COLOR is set. Wrapping follows the terminal's width (COLUMNS, then the
// terminal's own, then 80) when standard output is a terminal.
Layout layoutForStdout(const std::string& colourChoice);

// `label` followed by `text`, wrapped at blanks to `layout.width` columns; continuation lines
// start at column `hang`. A word longer than a line stays whole, and so does a command quoted in
// backticks. Ends with a newline.
std::string wrapped(const std::string& label, const std::string& text, std::size_t hang, const Layout& layout);

// `text` in the colour of `role` ("error", "upgrade", "ok", "id", "fix", "dim") when the layout
// colours, else unchanged.
std::string painted(const std::string& text, const char* role, const Layout& layout);

}  // namespace orbtool::check
