// The installation root. The host library lives in <root>/lib, so without an explicit root the
// library's own location gives it; dladdr answers where the loader mapped it from.
#include "host/install.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

namespace host {

std::string get_install_path() {
    if (const char* root = std::getenv("VELTRA_ROOT"); root && *root) return root;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&get_install_path), &info) == 0 || !info.dli_fname) return {};
    std::error_code error;
    std::filesystem::path library = std::filesystem::absolute(info.dli_fname, error);
    if (error) library = info.dli_fname;
    return library.lexically_normal().parent_path().parent_path().string();
}

}  // namespace host
