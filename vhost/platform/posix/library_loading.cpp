// Library loading on POSIX (dlopen). The failure rule: a null handle and, on the calling
// thread, the loader's own diagnostic turned into UTF-16 here, once, so callers never see
// dlerror() or its encoding.
//
// Accepted platform behaviour: the unresolved load (RTLD_LAZY) still runs the library's static
// constructors; POSIX has no way to map a shared library without initialising it.
#include <dlfcn.h>

#include "host/ut.hpp"
#include "vhost/i18n/conversion.hpp"
#include "vhost/platform/system.hpp"

namespace host {
namespace {

thread_local std::u16string t_lastLibraryError;

utLibHandle load(const std::u16string& path, int mode, std::u16string* error) {
    std::string nativePath;
    if (!vhost::i18n::tryToUtf8(path, nativePath)) {
        t_lastLibraryError = u"invalid library path: the name is not valid UTF-16";
    } else if (nativePath.empty()) {
        // dlopen("") would hand back the main program, which is never what a caller means.
        t_lastLibraryError = u"invalid library path: the name is empty";
    } else {
        // dlopen searches the library path for a name without a slash; the host loads the file
        // it is given, so a bare file name means the one in the current directory.
        if (nativePath.find('/') == std::string::npos) nativePath.insert(0, "./");
        dlerror();
        if (void* handle = dlopen(nativePath.c_str(), mode)) {
            t_lastLibraryError.clear();
            return handle;
        }
        const char* reason = dlerror();
        // dlerror text is in the C library's encoding, which holds whatever bytes the path had;
        // the lenient conversion keeps the message readable whatever they were.
        t_lastLibraryError = vhost::i18n::toUtf16Lenient(reason ? reason : "cannot load " + nativePath);
    }
    if (error) *error = t_lastLibraryError;
    return nullptr;
}

}  // namespace

utLibHandle utLoadLibrary(const std::u16string& path) { return load(path, RTLD_NOW | RTLD_GLOBAL, nullptr); }

utLibHandle utLoadLibraryUnresolved(const std::u16string& path, std::u16string* error) {
    return load(path, RTLD_LAZY | RTLD_LOCAL, error);
}

utLibHandle utLoadLibraryWithLocalSymbolVisibility(const std::u16string& path, std::u16string* error) {
    return load(path, RTLD_NOW | RTLD_LOCAL, error);
}

utLibHandle utLoadLibraryWithLocalSymbolVisibilityAndDiagnosticMsg(const std::u16string& path) {
    return load(path, RTLD_NOW | RTLD_LOCAL, nullptr);
}

std::u16string utLastLibraryError_u() { return t_lastLibraryError; }

void* utFindSymbolInLibrary(utLibHandle handle, const char* name) {
    if (!handle || !name) return nullptr;
    return dlsym(handle, name);
}

void utUnloadLibrary(utLibHandle handle) {
    if (handle) dlclose(handle);
}

}  // namespace host

namespace vhost::platform {

void* loadSystemLibrary(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

void* systemLibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

std::string fileOfLoadedCode(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname) return {};
    return info.dli_fname;
}

}  // namespace vhost::platform
