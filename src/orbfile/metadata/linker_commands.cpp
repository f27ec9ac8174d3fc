#include "orbfile/metadata/linker_commands.hpp"

#include <exception>
#include <filesystem>
#include <system_error>

#include "host/process.hpp"
#include "host/ut.hpp"
#include "orbfile/metadata/cppms_bundle.hpp"
#include "orbfile/metadata/read_metadata.hpp"
#include "orbfile/metadata/run_command.hpp"
#include "platform/linker_family.hpp"

namespace orbfile {
namespace {

namespace fs = std::filesystem;
using metadata::MetaData;
using metadata::Recording;
using metadata::Result;

constexpr const char* kModuleExtension = ".orbw64";
constexpr unsigned kDefaultApiVersion = 800;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Whether the output file stands in the output argument itself (after the option text) rather
// than in the next argument.
bool outputIsJoined(const std::string& argument, const std::string& extension) {
    return !extension.empty() && contains(argument, extension);
}

// Data linked in raw (--format=binary) carries no note that the code needs no executable stack,
// so a GNU linker would give the module one; the module's link says so itself. (ELF platforms
// only: there every driver takes the bundle as data.)
constexpr const char* kNonExecutableStack = "-Wl,-z,noexecstack";

void appendPieces(std::vector<std::string>& command, const std::string& flags, bool gnu) {
    for (auto& piece : metadata::splitAtBlanks(flags)) command.push_back(std::move(piece));
    if (gnu && orb::platform::kEveryLinkerTakesBinaryData) command.emplace_back(kNonExecutableStack);
}

// A linker given as an existing file is run as the platform's lookup names it.
void resolveLinker(std::string& linker) {
    std::error_code error;
    if (linker.empty() || !fs::exists(linker, error)) return;
    const std::string found = host::process::where(linker);
    if (!found.empty()) linker = found;
}

struct LinkPlan {
    std::string output;      // the module the caller asked for
    std::string outdir;      // its directory, as given (empty: the current directory)
    std::string stem;        // its name without directory and extension
    std::string extension;   // its extension, with the dot
    std::string temporary;   // the temporary module beside it
    bool gnu = true;
};

// The temporary link: the command rewritten to write the temporary module, with a bundle of the
// default metadata linked in. Its intermediate files are removed whatever the link did.
Result linkTemporary(const std::vector<std::string>& command, const std::string& optionText, std::size_t index,
                     const LinkPlan& plan, const MetaData& defaults) {
    std::vector<std::string> copy = command;
    if (outputIsJoined(copy[index], plan.extension)) {
        copy[index] = optionText + plan.temporary;
    } else {
        copy[index + 1] = plan.temporary;
    }
    std::string rc;
    if (!plan.gnu) get_rc_exe(rc);
    Result result = generate_cppms_bundle(defaults, rc, plan.stem + "_kv_temp_", plan.gnu, false);
    if (result.get_status() != 0) return result;
    appendPieces(copy, result.getLinkerFlags(plan.gnu), plan.gnu);
    resolveLinker(copy[0]);
    metadata::runCommand(result, copy, false, Recording::kDoNotRecord);
    result.delete_files();
    return result;
}

// A Result reporting a command this operation cannot work with.
Result refusedCommand(const std::string& why) {
    Result result("", "");
    result.getMutable_cmdErr() << why << '\n';
    result.set_status(1);
    return result;
}

}  // namespace

namespace metadata {

bool names_gnu_linker(const std::string& linker) { return contains(linker, "g++") || contains(linker, "gcc"); }

bool is_gnu_linker(const std::string& linker) {
    return orb::platform::kEveryLinkerTakesBinaryData || names_gnu_linker(linker);
}

}  // namespace metadata

Result build_orb_linker_cmds(std::vector<std::string>& command, const std::string& optionText, int index) {
    return build_orb_linker_cmds(command, optionText, index, false);
}

Result build_orb_linker_cmds(std::vector<std::string>& command, const std::string& optionText, int index,
                             bool threadpoolSafe) {
    host::utPrintf("Building with orblink\n");

    if (command.empty() || index < 0 || static_cast<std::size_t>(index) >= command.size()) {
        return refusedCommand("the linker command has no argument " + std::to_string(index) + " for the output");
    }
    const auto at = static_cast<std::size_t>(index);
    LinkPlan plan;
    if (contains(command[at], kModuleExtension)) {
        plan.output = command[at].substr(std::min(optionText.size(), command[at].size()));
    } else if (at + 1 < command.size()) {
        plan.output = command[at + 1];
    } else {
        return refusedCommand("the linker command names no output file after '" + command[at] + "'");
    }
    const fs::path output(plan.output);
    plan.outdir = output.parent_path().string();
    plan.stem = output.stem().string();
    plan.extension = output.extension().string();
    plan.temporary = (output.parent_path() / (plan.stem + "_kv_temp_" + plan.extension)).string();
    plan.gnu = metadata::is_gnu_linker(command[0]);
    const MetaData defaults(plan.outdir, kDefaultApiVersion, threadpoolSafe);

    host::utPrintf("Creating temp orb file with meta-data\n");
    // A temporary module left by an earlier build must not pass for this link's.
    std::error_code ignored;
    fs::remove(plan.temporary, ignored);
    Result temporary = linkTemporary(command, optionText, at, plan, defaults);
    if (!fs::exists(plan.temporary, ignored)) {
        host::utPrintf("Error with orblink: %s\n%s\n%d\n", temporary.get_cmd().c_str(), temporary.get_cmdErr().c_str(),
                       temporary.get_status());
        return temporary;
    }

    host::utPrintf("Inspecting ORB file: %s\n", plan.temporary.c_str());
    MetaData inspected(plan.outdir, 0, false);
    get_meta_data_from_orbfile(plan.temporary, inspected);

    if (inspected == defaults) {
        host::utPrintf("meta-data consistent; copying orb file to actual  %s\n", plan.output.c_str());
        Result result(plan.outdir, "");
        // What the compiler and linker said (warnings) is the temporary link's: this is its module.
        result.getMutable_cmdOutput() << temporary.get_cmdOutput();
        result.getMutable_cmdErr() << temporary.get_cmdErr();
        try {
            // The temporary module lies beside the output and is not needed after this: it is
            // renamed into place rather than copied. Renaming also keeps the file a host may have
            // mapped (the old module), since a mapping must keep the file it was made from.
            const std::string manifest = plan.temporary + ".manifest";
            if (fs::exists(manifest)) {
                fs::copy_file(manifest, plan.output + ".manifest", fs::copy_options::overwrite_existing);
            }
            fs::rename(plan.temporary, plan.output);
        } catch (const std::exception& error) {
            result.getMutable_cmdErr() << error.what() << '\n';
            result.set_status(1);
        }
        fs::remove(plan.temporary, ignored);
        return result;
    }

    host::utPrintf("Inspected ORB file meta-data is different from default, embedding new data into : %s\n",
                   plan.output.c_str());
    std::string rc;
    if (!plan.gnu) get_rc_exe(rc);
    Result result = generate_cppms_bundle(inspected, rc, plan.stem, plan.gnu, false);
    if (result.get_status() != 0) return result;
    appendPieces(command, result.getLinkerFlags(plan.gnu), plan.gnu);
    metadata::runCommand(result, command, false, Recording::kDoNotRecord);
    if (result.get_status() == 0) {
        // The final link ran the temporary one's command again and said the same: its warnings are
        // the temporary link's, kept so that they are reported once.
        result.getMutable_cmdOutput().str("");
        result.getMutable_cmdOutput() << temporary.get_cmdOutput();
        result.getMutable_cmdErr().str("");
        result.getMutable_cmdErr() << temporary.get_cmdErr();
        result.delete_files();
    }
    fs::remove(plan.temporary, ignored);
    return result;
}

}  // namespace orbfile
