// The values passed between the build-time metadata steps: MetaData (what to embed into a module
// and where intermediate files go) and Result (the outcome of one step: the commands it ran, what
// they printed, its status and the paths of its intermediate files).
//
// Both are plain values owning all their members; one thread uses a value at a time.
#pragma once

#include <sstream>
#include <string>

#include "platform/export.hpp"

namespace orbfile::metadata {

class ORB_API MetaData {
public:
    // apiVersion: the interface generation 700, 730 or 800 (0 when unknown); threadpoolSafe: the
    // module may run on the host's thread pool; outdir: where intermediate files are written.
    MetaData(const std::string outdir, unsigned apiVersion, bool threadpoolSafe);
    MetaData(const MetaData&) = default;
    MetaData(MetaData&&) noexcept = default;
    MetaData& operator=(const MetaData&) = default;
    MetaData& operator=(MetaData&&) noexcept = default;
    ~MetaData() = default;

    unsigned get_apiVersion() const noexcept { return m_apiVersion; }
    bool get_threadpoolSafe() const noexcept { return m_threadpoolSafe; }
    std::string get_outdir() const { return m_outdir; }
    std::string get_outdir() { return m_outdir; }

    // The metadata is equal; the directory does not take part.
    bool operator==(const MetaData& other) const noexcept {
        return m_apiVersion == other.m_apiVersion && m_threadpoolSafe == other.m_threadpoolSafe;
    }

private:
    unsigned m_apiVersion;
    bool m_threadpoolSafe;
    std::string m_outdir;
};

class ORB_API Result {
public:
    // The intermediate files of a step are named <dir><sep><prefix><fixed name>, <dir> being
    // `outdir` made canonical and absolute against the current directory (an empty `outdir` is
    // the current directory) and <sep> the platform's preferred separator. The prefix is joined
    // without a separator. Throws the filesystem library's error when `outdir` does not exist or
    // cannot be made canonical.
    Result(const std::string outdir, const std::string prefix);
    Result(Result&&) noexcept;
    Result& operator=(Result&&) noexcept;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ~Result();

    // Every resource-compiler command run (or, on a dry run, that would have run), each as its
    // arguments joined by single blanks and a newline. Linker runs are not recorded here.
    std::string get_cmd() const { return m_cmd; }
    // Standard output of the commands, and error texts of the manifest step.
    std::string get_cmdOutput() const { return m_cmdOutput.str(); }
    // Standard error of the commands, and texts of errors met while running them.
    std::string get_cmdErr() const { return m_cmdErr.str(); }
    // 0 for success; the exit status of the last external command, or 1 for an error met here.
    int get_status() const noexcept { return m_status; }
    std::string get_manifestJsonPath() const { return m_manifestJsonPath; }
    std::string get_manifestJsonString() const { return m_manifestJsonString; }
    std::string get_bundleZipPath() const { return m_bundleZipPath; }
    std::string get_win64RESPath() const { return m_win64RESPath; }
    std::string get_win64RCPath() const { return m_win64RCPath; }

    std::string& getMutable_cmd() noexcept { return m_cmd; }
    std::stringstream& getMutable_cmdOutput() noexcept { return m_cmdOutput; }
    std::stringstream& getMutable_cmdErr() noexcept { return m_cmdErr; }

    void set_status(int status) noexcept { m_status = status; }
    void set_manifestJsonString(std::string text) { m_manifestJsonString = std::move(text); }

    // Removes the manifest, the bundle, the resource script and the compiled resource, in that
    // order, where they exist. Never fails: every error is swallowed.
    void delete_files();

    // The extra linker arguments that put this step's bundle into a module, as one text of
    // blank-separated pieces: for a GNU-style driver (`gnu`) the bundle linked in as binary data,
    // otherwise the compiled Windows resource. A path holding a blank is put in double quotes
    // (both paths are quoted when either holds one).
    std::string getLinkerFlags(bool gnu) const;

private:
    std::string m_cmd;
    std::stringstream m_cmdOutput;
    std::stringstream m_cmdErr;
    int m_status = 0;
    std::string m_manifestJsonPath;
    std::string m_manifestJsonString;
    std::string m_bundleZipPath;
    std::string m_win64RESPath;
    std::string m_win64RCPath;
};

}  // namespace orbfile::metadata
