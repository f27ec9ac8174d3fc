#include "orbfile/metadata/run_command.hpp"

#include <exception>

#include "host/process.hpp"

namespace orbfile::metadata {

void runCommand(Result& result, const std::vector<std::string>& args, bool dryRun, Recording recording) {
    if (args.empty()) {
        result.getMutable_cmdErr() << "args must not be empty\n";
        result.set_status(1);
        return;
    }
    if (recording == Recording::kRecordCommand) {
        std::string& cmd = result.getMutable_cmd();
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (i != 0) cmd += ' ';
            cmd += args[i];
        }
        cmd += '\n';
    }
    if (dryRun) {
        result.set_status(0);
        return;
    }
    try {
        const host::process::Completed completed = host::process::run(args);
        result.getMutable_cmdOutput() << completed.out << '\n';
        result.getMutable_cmdErr() << completed.err << '\n';
        result.set_status(completed.exitStatus);
    } catch (const std::exception& error) {
        // The program was not found or could not be started, or its pipes could not be made.
        result.getMutable_cmdErr() << error.what() << '\n';
        result.set_status(1);
    }
}

std::vector<std::string> splitAtBlanks(const std::string& text) {
    std::vector<std::string> pieces;
    std::string piece;
    for (const char c : text) {
        if (c != ' ') {
            piece += c;
        } else if (!piece.empty()) {
            pieces.push_back(std::move(piece));
            piece.clear();
        }
    }
    if (!piece.empty()) pieces.push_back(std::move(piece));
    return pieces;
}

}  // namespace orbfile::metadata
