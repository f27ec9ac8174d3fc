#include "orbfile/metadata/cppms_bundle.hpp"

#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <boost/algorithm/string/replace.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "host/i18n.hpp"
#include "host/process.hpp"
#include "orbfile/metadata/run_command.hpp"
#include "startup/log_channels.hpp"
#include "startup/startup_values.hpp"

namespace orbfile {
namespace {

using metadata::MetaData;
using metadata::Result;
using orb::startup::embedMetadataLog;
using orb::startup::kLogError;

constexpr const char* kBundleName = "orbVersioning";

// The whole file as text; empty when it cannot be opened.
std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    return text.str();
}

// The manifest for m_data, from the installation's template, written to the result's manifest
// path. A template or output file that cannot be opened is no error here: the manifest is then
// empty or missing, and the resource compiler's run reports it.
void writeManifest(const MetaData& m_data, Result& res) {
    try {
        std::string text = readText(orb::startup::manifestTemplatePath());
        const std::string symbolicName = "\"" + boost::uuids::to_string(boost::uuids::random_generator()()) + "\"";
        boost::algorithm::replace_first(text, orb::startup::kBundleSymbolicNamePlaceholder, symbolicName);
        boost::algorithm::replace_first(text, orb::startup::kApiVersionPlaceholder,
                                        std::to_string(m_data.get_apiVersion()));
        boost::algorithm::replace_first(text, orb::startup::kThreadPoolSafePlaceholder,
                                        m_data.get_threadpoolSafe() ? "1" : "0");
        res.set_manifestJsonString(text);
        std::ofstream out(res.get_manifestJsonPath(), std::ios::out | std::ios::trunc);
        out << text;
        res.set_status(0);
    } catch (const std::exception& error) {
        res.getMutable_cmdOutput() << error.what() << '\n';
        res.set_status(1);
    }
    ORB_LOG(embedMetadataLog(), kLogError, "Created Meta-data file in " + m_data.get_outdir());
}

std::string resourceCompiler() { return host::i18n::to_string(orb::startup::resourceCompilerPath()); }

void writeBundle(Result& res, bool dryRun) {
    metadata::runCommand(res,
                         {resourceCompiler(), "--manifest-add", res.get_manifestJsonPath(), "--bundle-name",
                          kBundleName, "--out-file", res.get_bundleZipPath()},
                         dryRun);
    ORB_LOG(embedMetadataLog(), kLogError, "Created usResources bundle " + res.get_bundleZipPath());
}

void writeWindowsResource(Result& res, const std::string& rc, bool dryRun) {
    std::string bundle = res.get_bundleZipPath();
    boost::algorithm::replace_all(bundle, "\\", "\\\\");
    {
        std::ofstream script(res.get_win64RCPath(), std::ios::out | std::ios::trunc);
        script << "#define US_RESOURCE 300\n"
               << "US_RESOURCES US_RESOURCE \"" << bundle << "\"\n";
    }
    metadata::runCommand(res, {rc, "/fo", res.get_win64RESPath(), res.get_win64RCPath()}, dryRun);
    ORB_LOG(embedMetadataLog(), kLogError, "Created RES file " + res.get_win64RESPath());
}

}  // namespace

Result generate_cppms_bundle(const MetaData& md, const std::string& rc, const std::string& prefix,
                             bool noWindowsResource, bool dryRun, bool /*unused*/) {
    Result result(md.get_outdir(), prefix);
    writeManifest(md, result);
    if (result.get_status() != 0) return result;
    writeBundle(result, dryRun);
    if (result.get_status() != 0 || noWindowsResource) return result;
    writeWindowsResource(result, rc, dryRun);
    return result;
}

Result embed_cppms_meta_data(const std::string& file, const MetaData& md, bool dryRun, bool verbose) {
    const std::string prefix = std::filesystem::path(file).stem().string() + "_" + "manifest";
    Result result(md.get_outdir(), prefix);
    writeManifest(md, result);
    std::vector<std::string> args = {resourceCompiler(), "--manifest-add", result.get_manifestJsonPath(),
                                     "--bundle-name", kBundleName, "--bundle-file", file};
    if (verbose) args.emplace_back("--verbose");
    metadata::runCommand(result, args, dryRun);
    return result;
}

int get_rc_exe(std::string& out) {
    std::string result = host::process::where("rc.exe");
    boost::algorithm::trim(result);
    if (!result.empty()) {
        out = result;
        ORB_LOG(embedMetadataLog(), kLogError, "rc.exe was not supplied by the user. Found rc here : " + result);
        return 0;
    }
    const std::string found = host::process::which("rc.exe");
    if (!found.empty()) out = found;
    return 0;
}

}  // namespace orbfile
