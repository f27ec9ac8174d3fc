// Host utility library: output, message identifiers, Fortran strings, library loading, heap,
// floating-point control, thread identity and interrupts.
//
// Unless stated otherwise these may be called from any thread.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/host_api.hpp"

namespace host {

// Formats like vprintf and writes the text to the host's command window (the current output sink).
// Returns the number of bytes written, or a negative number when the format fails.
HOST_API int utVprintf(const char* format, va_list args);
HOST_API int utPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Bounded formatting into `buffer` of `size` bytes: at most size-1 bytes and a NUL are written
// (the text is cut there). Returns the length the full text would have had, like vsnprintf.
HOST_API int utVSNprintf(char* buffer, std::size_t size, const char* format, va_list args);

// Whether `identifier` is a well-formed message identifier. The rule: at least two components
// separated by single colons; each component starts with a letter and continues with letters,
// digits, underscores or hyphens; no leading, trailing or doubled colon; null is not valid.
HOST_API bool utIsValidMessageIdentifier(const char* identifier);

// Fortran strings are blank padded and carry their length separately.
// utF2cstr copies `fstr` (length `flen`) into `buffer` of capacity `bufsize` with a NUL. Trailing
// blanks are padding and always dropped (Fortran cannot tell them from the text, and a fixed-length
// variable is padded to its length). `flag` says what the text is: 0 a name (function, workspace,
// variable), whose leading blanks are dropped as well; 1 a text (message, identifier, statements,
// printed text), whose leading blanks are kept. What remains is cut at bufsize-1 characters, so
// the buffer is never overrun. Returns the number of characters copied (without the NUL), or -1
// when buffer is null or bufsize is 0 (nothing is written then).
HOST_API int utF2cstr(const char* fstr, std::size_t flen, char* buffer, std::size_t bufsize, int flag);
// utC2fstr copies the NUL-terminated `cstr` into `fstr` of length `flen`, cutting it to flen and
// padding with blanks. A null cstr gives an all-blank string.
HOST_API void utC2fstr(const char* cstr, char* fstr, std::size_t flen);

// Library loading. Paths are UTF-16 and always name a file: a name without a folder is the file
// in the current directory, never a search of the system's library path. Failure is a null
// handle, never an exception; the reason is then available from utLastLibraryError_u() on the
// same thread (and in *error when given).
using utLibHandle = void*;
// Loads with global visibility and all references resolved now.
HOST_API utLibHandle utLoadLibrary(const std::u16string& path);
// Loads without resolving references (lazy binding). On POSIX the library's static constructors
// still run; there is no way to map a library without them.
HOST_API utLibHandle utLoadLibraryUnresolved(const std::u16string& path, std::u16string* error);
// Loads with local symbol visibility and all references resolved now.
HOST_API utLibHandle utLoadLibraryWithLocalSymbolVisibility(const std::u16string& path, std::u16string* error);
// As above; on failure the error text is the loader's diagnostic (which dependency is missing,
// which symbol is undefined, which file is not a library), also kept for utLastLibraryError_u().
HOST_API utLibHandle utLoadLibraryWithLocalSymbolVisibilityAndDiagnosticMsg(const std::u16string& path);
// Why the calling thread's last load failed; empty when none failed, and emptied again by each
// load that succeeds.
HOST_API std::u16string utLastLibraryError_u();
// The address of `name` in the library, or null. Records no error text.
HOST_API void* utFindSymbolInLibrary(utLibHandle handle, const char* name);
// Releases one reference taken by a load; null is ignored.
HOST_API void utUnloadLibrary(utLibHandle handle);

// Host heap. utCalloc returns zeroed memory or null; utFree(null) is a no-op.
HOST_API void* utCalloc(std::size_t count, std::size_t size);
HOST_API void utFree(void* pointer);

// Floating-point control state: the x87 control word and, on x86-64, the SSE control and status
// register (MXCSR). Saved before and restored after every module call so that a module that
// changes rounding or exception masks leaves the host as it was.
struct utFpControl {
    std::uint16_t x87 = 0;
    std::uint32_t mxcsr = 0;
};
HOST_API utFpControl ut_fnstcw();
HOST_API void ut_fldcw(utFpControl control);
// Clears pending floating-point exception flags (x87 status word and MXCSR flags).
HOST_API void ut_fnclex();

// Whether the calling thread is the signal thread of the calling thread's engine: the thread
// that created the engine and runs its module calls.
HOST_API bool utIsSignalThread();

// User interrupts (Ctrl-C) are recorded and raised at safe points.
class HOST_API utInterruptState {
public:
    static void SetInterruptPending(bool pending);
    static bool IsInterruptPending();
    // Throws the host's interrupt error ("VELTRA:interrupt") and clears the request when one is
    // pending; otherwise returns.
    static void ThrowIfInterruptPending();
};

}  // namespace host
