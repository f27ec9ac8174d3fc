#include "host_session.hpp"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "host/exceptions.hpp"
#include "shell_assist.hpp"
#include "vhost/boot/boot.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/ry/leaks.hpp"

namespace orbtool {

void addPathOption(tools::CommandLine& line) {
    const auto checkFolders = [](const std::vector<std::string>& folders) {
        for (const auto& folder : folders) {
            std::error_code error;
            if (!std::filesystem::is_directory(folder, error)) {
                throw MissingFile("--path " + folder + ": no such folder; check the name (relative to the current folder)");
            }
        }
    };
    line.options.add_options()("path", boost::program_options::value<std::vector<std::string>>()->notifier(checkFolders));
}

namespace {
void onCallEnded(const std::string& name, std::size_t depth, bool failed);
}  // namespace

// The runtime is attached before the engine exists, so that the engine is set up for modules
// (its module-file reader) as it is created.
HostSession::HostSession(const std::vector<std::string>& paths)
    : m_engine((vhost::boot::attachRuntime(), "orb")), m_scope(m_engine) {
    vhost::setCallObserver(&onCallEnded);
    // Each addPath puts its folder in front, so the first folder given goes in last.
    for (auto folder = paths.rbegin(); folder != paths.rend(); ++folder) addPath(*folder);
}

void HostSession::addPath(const std::string& folder) {
    vhost::addPath(std::filesystem::absolute(folder).lexically_normal().string());
}

void printError(const std::exception& error, const std::string& pathOption) {
    std::cout.flush();
    std::fflush(stdout);
    std::string line = "Error";
    if (const auto* hostError = dynamic_cast<const host::UserException*>(&error)) {
        if (!hostError->functionName().empty()) line += " using " + hostError->functionName();
        if (!hostError->identifier().empty()) line += " (" + hostError->identifier() + ")";
        line += ": " + hostError->message();
        // A module that faulted stays loaded but refused; say how to get it back.
        const std::string& name = hostError->functionName();
        if (hostError->identifier().starts_with("VELTRA:fatal:") && !name.empty()) {
            line += "\n" + name + " is refused from now on; fix it and run \"clear " + name +
                    "\" to load it afresh on its next call.";
        }
        // "Undefined function or variable 'NAME'.": where a module of that name was looked for.
        const std::string& message = hostError->message();
        const auto open = message.find('\'');
        const auto close = message.rfind('\'');
        if (hostError->identifier() == "VELTRA:undefinedFunction" && open != std::string::npos && close > open + 1) {
            try {
                line += "\n" + shell::notFoundText(message.substr(open + 1, close - open - 1), pathOption);
            } catch (const std::exception&) {
                // The error itself has been said; the search folders are a help, not a need.
            }
        }
    } else {
        line += ": " + std::string(error.what());
    }
    std::cerr << line << std::endl;
}

namespace {

std::atomic<bool> g_leakReports{false};
// What every call freed since the tool started (one engine per run of the tool).
vhost::ry::ContextReport g_totalArrays, g_totalBlocks;

std::string counted(std::size_t count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// "1 array (800 bytes) and 2 memory blocks (120 bytes)", or "nothing".
std::string describeFreed(const vhost::ry::ContextReport& arrays, const vhost::ry::ContextReport& blocks) {
    std::string text;
    if (arrays.arrays != 0) text = counted(arrays.arrays, "array") + " (" + counted(arrays.bytes, "byte") + ")";
    if (blocks.blocks != 0) {
        if (!text.empty()) text += " and ";
        text += counted(blocks.blocks, "memory block") + " (" + counted(blocks.bytes, "byte") + ")";
    }
    return text.empty() ? "nothing" : text;
}

// The dispatcher's observer: the call's frame has left its contexts, so the array library's last
// reports are what it freed.
void onCallEnded(const std::string& name, std::size_t depth, bool failed) {
    try {
        const auto arrays = vhost::ry::lastArrayListReport();
        const auto blocks = vhost::ry::lastAllocListReport();
        g_totalArrays += arrays;
        g_totalBlocks += blocks;
        if (!g_leakReports.load()) return;
        const std::string line = std::string(2 * depth, ' ') + "leaks: " + name + (failed ? " (failed)" : "") +
                                 " left " + describeFreed(arrays, blocks) + "\n";
        std::fflush(stdout);
        std::fwrite(line.data(), 1, line.size(), stderr);
    } catch (...) {
        // A report that cannot be made is not worth ending the call's clean-up for.
    }
}

}  // namespace

void setLeakReports(bool on) { g_leakReports.store(on); }

bool leakReportsOn() { return g_leakReports.load(); }

std::string leakTotals() { return describeFreed(g_totalArrays, g_totalBlocks); }

}  // namespace orbtool
