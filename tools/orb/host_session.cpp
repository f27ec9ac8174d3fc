#include "host_session.hpp"

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "host/exceptions.hpp"
#include "vhost/boot/boot.hpp"
#include "vhost/dispatcher/dispatcher.hpp"

namespace orbtool {

bool takePathOption(const std::vector<std::string>& args, std::size_t& index, std::vector<std::string>& paths) {
    const std::string& arg = args[index];
    std::string folder;
    if (arg == "--path") {
        if (index + 1 >= args.size()) throw UsageError("--path needs a folder");
        folder = args[index + 1];
        index += 2;
    } else if (arg.starts_with("--path=")) {
        folder = arg.substr(7);
        index += 1;
    } else {
        return false;
    }
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) throw UsageError("--path " + folder + ": no such folder");
    paths.push_back(folder);
    return true;
}

// The runtime is attached before the engine exists, so that the engine is set up for modules
// (its module-file reader) as it is created.
HostSession::HostSession(const std::vector<std::string>& paths)
    : m_engine((vhost::boot::attachRuntime(), "orb")), m_scope(m_engine) {
    // Each addPath puts its folder in front, so the first folder given goes in last.
    for (auto folder = paths.rbegin(); folder != paths.rend(); ++folder) addPath(*folder);
}

void HostSession::addPath(const std::string& folder) {
    vhost::addPath(std::filesystem::absolute(folder).lexically_normal().string());
}

void printError(const std::exception& error) {
    std::cout.flush();
    std::fflush(stdout);
    std::string line = "Error";
    if (const auto* hostError = dynamic_cast<const host::UserException*>(&error)) {
        if (!hostError->functionName().empty()) line += " using " + hostError->functionName();
        if (!hostError->identifier().empty()) line += " (" + hostError->identifier() + ")";
        line += ": " + hostError->message();
    } else {
        line += ": " + std::string(error.what());
    }
    std::cerr << line << std::endl;
}

}  // namespace orbtool
