// Producing the metadata a module carries: a JSON manifest made from the installation's template,
// packed by the resource compiler into a bundle named "orbVersioning", and either appended to an
// existing module file or (for the Windows linker) wrapped into a Windows resource.
//
// Every step records its commands and their captured output in the Result it returns and
// reports failure through its status; nothing is thrown except the filesystem error of the Result
// constructor (an output directory that does not exist). Progress records go to the
// "orb::orbEmbedMetadataUtil" log channel.
#pragma once

#include <string>

#include "orbfile/metadata/metadata.hpp"
#include "platform/export.hpp"

namespace orbfile {

// Writes the manifest for `md` (<prefix>orb_manifest.json in md's directory), packs it into the
// bundle <prefix>orb_bundle.zip and, unless `noWindowsResource`, writes the resource script
// <prefix>orb_rc.rc and compiles it with `rc` into <prefix>orb_res.res. Stops at the first step
// whose status is not 0, leaving the files of earlier steps in place. A dry run writes the
// manifest and records the commands without starting them. The last flag is not read.
ORB_API metadata::Result generate_cppms_bundle(const metadata::MetaData& md, const std::string& rc,
                                               const std::string& prefix, bool noWindowsResource, bool dryRun,
                                               bool unused = false);

// Writes the manifest for `md` (named after the stem of `file`, then "_manifest") and has the
// resource compiler append the bundle to `file` itself; `verbose` asks the compiler to say what
// it does. The status is the resource compiler's (0 on a dry run).
ORB_API metadata::Result embed_cppms_meta_data(const std::string& file, const metadata::MetaData& md, bool dryRun,
                                               bool verbose);

// Finds the Windows resource compiler "rc.exe": the platform's lookup command first, then the
// program search. `out` is left as it was when neither finds it. Always answers 0.
ORB_API int get_rc_exe(std::string& out);

}  // namespace orbfile
