// orb manifest: the metadata a module file carries, as the runtime reads it. The bundle (a small
// zip) is found the way the runtime finds it (a linked-in section first, then a scan of the whole
// file), so this works where a zip tool that only looks near the end of the file does not; and
// only the file's bytes are read, so nothing of the module runs.

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "subcommand.hpp"
#include "vhost/bundle/byte_source.hpp"
#include "vhost/bundle/bundle_reader.hpp"
#include "vhost/bundle/zip_archive.hpp"
#include "vhost/bundle/zip_locator.hpp"

namespace orbtool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage = R"(usage: orb manifest [OPTIONS] FILE...

Prints the metadata each module FILE carries: the name of each file in its embedded bundle, and
the text of each manifest (the interface generation the module was built for, whether it may run
on the thread pool, ...). The file's bytes are read, nothing of the module runs. orb build writes
the manifest; orb check says what it means for this release.

Options:
  --list       print the names of the files in the bundle only
  -h, --help   show this help

Exit status: 0 every file carries a manifest, 1 a file carries none, cannot be read or does not
exist, 2 usage error.
)";

// A manifest as its JSON, indented (members in the order written); the text as stored when it is
// not JSON.
std::string shown(const std::string& text) {
    const auto json = nlohmann::ordered_json::parse(text, nullptr, false);
    if (json.is_discarded()) return text;
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

// Prints one file's bundle; answers false (after saying why on standard error) when it has no
// manifest to show.
bool printManifest(const std::string& file, bool listOnly) {
    std::error_code error;
    if (fs::is_directory(file, error)) {
        std::cerr << "orb manifest: " << file << " is a folder: give the module files in it, as in orb manifest "
                  << file << "/*.orbw64\n";
        return false;
    }
    if (!fs::exists(file, error)) {
        std::cerr << "orb manifest: " << file << ": no such file; check the name and the folder\n";
        return false;
    }
    try {
        vhost::bundle::FileByteSource source(file);
        const auto window = vhost::bundle::locateZip(source);
        if (!window) {
            std::cerr << "orb manifest: " << file
                      << " carries no metadata bundle: build it with orb build, which embeds one\n";
            return false;
        }
        vhost::bundle::ZipArchive zip(source, *window);
        bool anyManifest = false;
        for (const auto& name : zip.names()) {
            if (name.ends_with("/")) continue;  // a folder's own entry
            const bool manifest = name.size() > 14 && name.ends_with("/manifest.json");
            anyManifest = anyManifest || manifest;
            std::cout << file << ": " << name << "\n";
            if (listOnly || !manifest) continue;
            const std::string text = shown(zip.read(name, vhost::bundle::kManifestMaxBytes));
            std::size_t start = 0;
            while (start < text.size()) {
                const std::size_t end = text.find('\n', start);
                const std::size_t stop = end == std::string::npos ? text.size() : end;
                std::cout << "  " << text.substr(start, stop - start) << "\n";
                start = stop + 1;
            }
        }
        if (!anyManifest) {
            std::cout.flush();
            std::cerr << "orb manifest: the bundle of " << file
                      << " holds no manifest.json: rebuild the module with orb build\n";
        }
        return anyManifest;
    } catch (const std::exception& failure) {
        std::cout.flush();
        std::cerr << "orb manifest: " << file << ": " << failure.what() << "; rebuild the module with orb build\n";
        return false;
    }
}

int runManifest(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    bool listOnly = false;
    try {
        tools::CommandLine line;
        line.options.add_options()("help,h", "")("list", "")(
            "file", boost::program_options::value<std::vector<std::string>>());
        line.positional.add("file", -1);
        const auto values = tools::readCommandLine(args, line);
        if (values.count("help") != 0) {
            std::cout << kUsage;
            return kExitOk;
        }
        listOnly = values.count("list") != 0;
        if (values.count("file") == 0) throw UsageError("no module file given: name one, as in orb manifest gain.orbw64");
        files = values["file"].as<std::vector<std::string>>();
    } catch (const UsageError& error) {
        std::cerr << "orb manifest: " << error.what() << "\nRun 'orb manifest --help' for usage.\n";
        return kExitUsage;
    }
    bool allShown = true;
    for (const auto& file : files) allShown = printManifest(file, listOnly) && allShown;
    return allShown ? kExitOk : kExitFailure;
}

const SubcommandRegistration registration(
    {"manifest", "print the metadata a module file carries (its embedded manifest)", &runManifest});

}  // namespace
}  // namespace orbtool
