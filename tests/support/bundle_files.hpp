// Files for the bundle and version-retrieval tests: the test modules, and bundle zips made by
// the project's resource compiler and by other zip writers (python3's zipfile, Info-ZIP's zip),
// so the reader is tested against archives it did not write.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/run_child.hpp"

namespace orbtest {

namespace fs = std::filesystem;

// A working folder for the zip makers below, private to this process: ctest runs tests of one
// executable in parallel processes.
inline fs::path toolRoot() { return fs::path(ORB_TEST_BINARY_DIR) / "scratch" / ("tools-" + std::to_string(::getpid())); }

// Removes the process's folder when the process ends (forked children end with _exit and keep it).
struct ToolRootCleanup {
    ~ToolRootCleanup() {
        std::error_code ignored;
        fs::remove_all(toolRoot(), ignored);
    }
};
inline ToolRootCleanup toolRootCleanup;

inline fs::path toolDir(const std::string& tool) {
    const fs::path dir = toolRoot() / tool;
    fs::create_directories(dir);
    return dir;
}

inline fs::path testModule(const std::string& name) { return fs::path(ORB_TEST_MODULE_DIR) / (name + ".orbw64"); }

inline std::string resourceCompiler() { return std::string(ORB_STAGE_DIR) + "/bin/linux64/usResourceCompiler3"; }

// A manifest with the given member texts inside "kv.orb" (each already JSON, e.g. "\"R2024b\"");
// an empty text leaves the member out.
inline std::string orbManifest(const std::string& release, const std::string& apiVersion,
                               const std::string& threadpoolSafe, const std::string& symbolicName = "\"orb-test\"") {
    std::string members;
    auto add = [&members](const char* key, const std::string& value) {
        if (value.empty()) return;
        if (!members.empty()) members += ", ";
        members += std::string("\"") + key + "\": " + value;
    };
    add("release", release);
    add("apiVersion", apiVersion);
    add("threadpoolSafe", threadpoolSafe);
    return "{\"bundle.symbolic_name\": " + symbolicName + ", \"kv\": {\"orb\": {" + members + "}}}";
}

inline std::string goodManifest() { return orbManifest("\"R2024b\"", "800", "0"); }

// The zip the project's resource compiler makes of `manifest` for bundle `name`.
inline std::string compileBundle(const std::string& manifest, const std::string& name = "orbVersioning") {
    const fs::path dir = toolDir("compileBundle");
    writeBytes(dir / "manifest.json", manifest);
    fs::remove(dir / "bundle.zip");
    const ChildResult run = runChild(resourceCompiler(), {"-m", (dir / "manifest.json").string(), "-n", name, "-o",
                                                          (dir / "bundle.zip").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return readBytes(dir / "bundle.zip");
}

// A zip written by python3's zipfile: each pair is an entry name and its text (deflated).
inline std::string pythonZip(const std::vector<std::pair<std::string, std::string>>& entries) {
    const fs::path dir = toolDir("pythonZip");
    std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
        "args = sys.argv[2:]\n"
        "for i in range(0, len(args), 2):\n"
        "    z.writestr(args[i], args[i + 1])\n"
        "z.close()\n";
    std::vector<std::string> args{"python3", "-c", script, (dir / "out.zip").string()};
    for (const auto& [name, text] : entries) args.insert(args.end(), {name, text});
    fs::remove(dir / "out.zip");
    const ChildResult run = runChild("/usr/bin/env", args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return readBytes(dir / "out.zip");
}

// A zip written by Info-ZIP's zip from a directory tree holding orbVersioning/manifest.json.
inline std::string infoZip(const std::string& manifest) {
    const fs::path dir = toolDir("infoZip");
    fs::remove_all(dir / "tree");
    fs::remove(dir / "out.zip");
    fs::create_directories(dir / "tree" / "orbVersioning");
    writeBytes(dir / "tree" / "orbVersioning" / "manifest.json", manifest);
    const ChildResult run = runChild("/usr/bin/env", {"sh", "-c", "cd \"$0\" && zip -q -r ../out.zip orbVersioning",
                                                      (dir / "tree").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return readBytes(dir / "out.zip");
}

// A copy of test module `name` at `dir`/`file` with `zip` appended.
inline fs::path moduleWith(const fs::path& dir, const std::string& name, const std::string& zip,
                           const std::string& file = "module.orbw64") {
    const fs::path path = dir / file;
    fs::copy_file(testModule(name), path, fs::copy_options::overwrite_existing);
    writeBytes(path, zip, /*append=*/true);
    return path;
}

}  // namespace orbtest
