// The version report: which array-interface generation is current, and for which one a module
// file was built and whether it can run here.
#pragma once

#include <string>

#include <ry_types.h>

#include "platform/export.hpp"

namespace orbfile {

// The word for a module's version: "unknown" when it declares no release (relnum 0), else
// "current", "compatible" or "incompatible" by the host's answers for its interface.
ORB_API const char* version_compatibility_word(unsigned relnum, unsigned apinum);

}  // namespace orbfile

// The built-in behind the host's version report, called with the module calling convention.
//   no input, at most one output: the current interface's name;
//   a module path, zero or one output: the compatibility word of the module;
//   a module path, two outputs: the name of the module's interface and the current one's.
// Every output is a 1-by-n character row. Raises the host's too-many-outputs / too-many-inputs
// errors, "VELTRA:legacy_two_part:badopt" for an input that is not a character array,
// "VELTRA:orb:invalidArgument" for an empty path and "VELTRA:orb:ErrInvalidORBFile" (the path and
// the loader's last error) when the module's version cannot be read. Runs on the engine's thread.
extern "C" ORB_API void orbFeature_orbver(int nlhs, ryArray* plhs[], int nrhs, ryArray* prhs[]);
