// orb version: which release this runtime is and which array-interface generation is current;
// with a module file, whether the module can run here (the word the version report gives).

#include <iostream>

#include <boost/program_options.hpp>

#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "host/ut.hpp"
#include "orbfile/retrieve_version.hpp"
#include "orbfile/version.hpp"
#include "orbfile/version_report.hpp"
#include "platform/isolated_call.hpp"
#include "subcommand.hpp"

namespace orbtool {
namespace {

namespace po = boost::program_options;

constexpr const char* kUsage = R"(usage: orb version [FILE]

Prints the release of this runtime and the name of the current array-interface generation. With
a module FILE, prints whether the module can run here: current, compatible, incompatible, or
unknown when it declares no version. The module's code does not run, except its version function
when it carries no embedded manifest.

Options:
  -h, --help   show this help

Exit status: 0 success, 1 the file cannot be read as a module or does not exist, 2 usage error.
)";

// The word for one module file, as the version report gives it.
int reportModule(const std::string& file) {
    std::u16string path;
    try {
        path = host::i18n::to_ustring(file);
    } catch (const std::exception&) {
        std::cerr << "orb version: the file name '" << file << "' is not valid UTF-8\n";
        return kExitFailure;
    }
    if (path.empty()) {
        std::cerr << "orb version: " << host::i18n::to_string(host::i18n::get_message("VELTRA:orb:invalidArgument"))
                  << "\n";
        return kExitUsage;
    }
    // Reading the version may load the module; a damaged one may end the process that does, so
    // that happens in a copy of this one (as orb check does).
    constexpr unsigned kSeconds = 30;
    const auto outcome = orb::platform::runIsolated(
        [&](std::string& out) {
            orbfile::Version version;
            const orbfile::RetrieveStatus status = orbfile::retrieve_version(path, version);
            if (status == orbfile::SUCCESS || status == orbfile::NOEVER) {
                unsigned relnum = 0;
                unsigned apinum = 0;
                version.get_version(relnum, apinum);
                out = orbfile::version_compatibility_word(relnum, apinum);
                return kExitOk;
            }
            // The loader's reason when it tried; otherwise what the file checks found.
            std::u16string reason = host::utLastLibraryError_u();
            while (!reason.empty() && (reason.back() == u'\n' || reason.back() == u'\r' || reason.back() == u'\t' ||
                                       reason.back() == u' ')) {
                reason.pop_back();
            }
            if (status == orbfile::NOFILE) reason = u"no such file";
            if (status == orbfile::NOREAD) reason = u"the file cannot be read";
            if (reason.empty()) reason = u"it is not a library this platform can load, and carries no manifest";
            out = host::i18n::to_string(host::i18n::GetFormattedMessage("VELTRA:orb:ErrInvalidORBFile", {path, reason}));
            return kExitFailure;
        },
        kSeconds);
    if (!outcome.completed) {
        const std::u16string reason = u"reading its version ended with " +
                                      host::i18n::to_ustring(orb::platform::describeFailure(outcome, kSeconds));
        std::cerr << "orb version: "
                  << host::i18n::to_string(host::i18n::GetFormattedMessage("VELTRA:orb:ErrInvalidORBFile", {path, reason}))
                  << "\n";
        return kExitFailure;
    }
    (outcome.status == kExitOk ? std::cout : std::cerr) << (outcome.status == kExitOk ? "" : "orb version: ")
                                                        << outcome.output << "\n";
    return outcome.status;
}

int runVersion(const std::vector<std::string>& args) {
    tools::CommandLine line;
    line.options.add_options()("help,h", "show this help")("file", po::value<std::string>(), "module file");
    line.positional.add("file", 1);
    po::variables_map values;
    try {
        values = tools::readCommandLine(args, line);
    } catch (const UsageError& error) {
        std::cerr << "orb version: " << error.what() << "\nRun 'orb version --help' for usage.\n";
        return kExitUsage;
    }
    if (values.count("help") != 0) {
        std::cout << kUsage;
        return kExitOk;
    }
    if (values.count("file") != 0) return reportModule(values["file"].as<std::string>());

    std::u16string release;
    orbfile::Version::relnum2relstr(orbfile::Version::get_current_relnum(), release);
    std::cout << "release:   " << host::i18n::to_string(release) << "\n"
              << "interface: " << host::i18n::to_string(host::get_current_version_name()) << "\n";
    return kExitOk;
}

const SubcommandRegistration registration({"version", "show the runtime's release and current interface", &runVersion});

}  // namespace
}  // namespace orbtool
