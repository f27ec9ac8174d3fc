// usResourceCompiler3: packs a bundle (a manifest and resource files under one top-level
// directory) into a zip, written to its own file, appended to a binary, or both.
//
// Exit status: 0 success, 1 usage or input/output error ("Error: ..." on standard error), 2 a
// manifest that is not strict JSON or repeats a key.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "errors.hpp"
#include "manifest.hpp"
#include "zip_builder.hpp"

namespace po = boost::program_options;
namespace fs = std::filesystem;

namespace {

struct Options {
    std::vector<std::string> manifests;
    std::vector<std::string> resources;
    std::vector<std::string> zips;
    std::string bundleName;
    std::string outFile;
    std::string bundleFile;
    int level = 6;
    bool verbose = false;
    bool help = false;
};

po::options_description describe(Options& o) {
    po::options_description d;
    d.add_options()
        ("manifest-add,m", po::value(&o.manifests)->value_name("FILE"),
         "merge the JSON object in FILE into the bundle's manifest (repeatable)")
        ("bundle-name,n", po::value(&o.bundleName)->value_name("NAME"), "the bundle's name: its top-level directory")
        ("out-file,o", po::value(&o.outFile)->value_name("ZIP"), "write the bundle zip to ZIP")
        ("bundle-file,b", po::value(&o.bundleFile)->value_name("BINARY"), "append the bundle zip to BINARY")
        ("res-add,r", po::value(&o.resources)->value_name("FILE"), "add FILE to the bundle, at its relative path (repeatable)")
        ("zip-add,z", po::value(&o.zips)->value_name("ZIP"), "add every entry of ZIP (repeatable)")
        ("compression-level,c", po::value(&o.level)->value_name("0-9"), "0 stores, 1-9 deflate (default 6)")
        ("verbose,V", po::bool_switch(&o.verbose), "say what is done")
        ("help,h", po::bool_switch(&o.help), "print this text");
    return d;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw rc::FileError("cannot read '" + path + "'");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) throw rc::FileError("cannot read '" + path + "'");
    return bytes.str();
}

// Where a resource goes inside the bundle: its path as given, or its file name when the path is
// absolute; climbing out with ".." is refused.
std::string resourceEntry(const std::string& bundle, const std::string& file) {
    fs::path path = fs::path(file).lexically_normal();
    if (path.is_absolute()) path = path.filename();
    for (const auto& part : path) {
        if (part == "..") throw rc::UsageError("resource '" + file + "' lies outside the current directory");
    }
    if (path.empty() || path.filename().empty()) throw rc::UsageError("resource '" + file + "' is not a file name");
    return bundle + "/" + path.generic_string();
}

void checkBundleName(const std::string& name) {
    if (name.empty() || name.find_first_of("/\\") != std::string::npos || name == "." || name == "..") {
        throw rc::UsageError("bundle name '" + name + "' is not a directory name");
    }
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes, std::ios::openmode mode) {
    std::ofstream out(path, std::ios::binary | mode);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw rc::FileError("cannot write '" + path + "'");
}

// The binary is usually a module, and a host may have it mapped: appending to it in place would
// change the pages under that mapping. The bundle is appended to a copy, which is then renamed
// over the binary, so a mapping keeps the old file and the next load maps the new one.
void appendByReplacing(const std::string& path, const std::vector<unsigned char>& bytes) {
    const std::string partial = path + ".bundle-partial";
    std::error_code error;
    fs::copy_file(path, partial, fs::copy_options::overwrite_existing, error);
    if (error) throw rc::FileError("cannot copy '" + path + "': " + error.message());
    try {
        writeFile(partial, bytes, std::ios::app);
    } catch (...) {
        fs::remove(partial, error);
        throw;
    }
    fs::rename(partial, path, error);
    if (error) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        throw rc::FileError("cannot replace '" + path + "': " + error.message());
    }
}

int run(int argc, char** argv) {
    Options o;
    const po::options_description description = describe(o);
    tools::CommandLine line;
    line.options.add(description);
    try {
        tools::readCommandLine(std::vector<std::string>(argv + 1, argv + argc), line);
    } catch (const rc::UsageError& e) {
        throw rc::UsageError(std::string(e.what()) + " (see --help)");
    }
    if (o.help) {
        std::cout << "usage: usResourceCompiler3 [options]\n\nOptions:\n"
                  << description << "\nAt least one of --out-file and --bundle-file is required.\n";
        return 0;
    }
    if (o.outFile.empty() && o.bundleFile.empty()) {
        throw rc::UsageError("at least one of --out-file and --bundle-file is required (see --help)");
    }
    if (o.level < 0 || o.level > 9) throw rc::UsageError("compression level " + std::to_string(o.level) + " is not 0-9");
    if ((!o.manifests.empty() || !o.resources.empty()) && o.bundleName.empty()) {
        throw rc::UsageError("--bundle-name is required to add a manifest or resources");
    }
    if (!o.bundleName.empty()) checkBundleName(o.bundleName);
    if (!o.bundleFile.empty() && !fs::is_regular_file(o.bundleFile)) {
        throw rc::UsageError("bundle file '" + o.bundleFile + "' is not an existing file");
    }

    rc::ManifestBuilder manifest;
    for (const auto& file : o.manifests) {
        if (o.verbose) std::cout << "Merging manifest " << file << "\n";
        manifest.add(file);
    }

    rc::ZipBuilder zip(o.level);
    if (!manifest.empty()) zip.addFile(o.bundleName + "/manifest.json", manifest.text());
    for (const auto& file : o.resources) {
        const std::string entry = resourceEntry(o.bundleName, file);
        if (o.verbose) std::cout << "Adding " << file << " as " << entry << "\n";
        zip.addFile(entry, readFile(file));
    }
    for (const auto& file : o.zips) {
        if (o.verbose) std::cout << "Adding the entries of " << file << "\n";
        zip.addZip(file);
    }
    // Every directory that holds an entry gets its own entry, as unzip tools expect.
    std::vector<std::string> directories;
    for (const auto& name : zip.names()) {
        for (auto slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
            if (slash + 1 < name.size()) directories.push_back(name.substr(0, slash + 1));
        }
    }
    if (!o.bundleName.empty()) directories.push_back(o.bundleName + "/");
    for (const auto& directory : directories) zip.addDirectory(directory);
    const std::vector<unsigned char> bytes = zip.finish();

    if (!o.outFile.empty()) {
        if (o.verbose) std::cout << "Writing " << bytes.size() << " bytes to " << o.outFile << "\n";
        writeFile(o.outFile, bytes, std::ios::trunc);
    }
    if (!o.bundleFile.empty()) {
        if (o.verbose) std::cout << "Appending " << bytes.size() << " bytes to " << o.bundleFile << "\n";
        appendByReplacing(o.bundleFile, bytes);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const rc::ManifestError& e) {
        std::cerr << e.what() << "\n";
        return rc::kExitManifest;
    } catch (const std::exception& e) {
        std::cerr << "Error: " << e.what() << "\n";
        return rc::kExitUsage;
    }
}
