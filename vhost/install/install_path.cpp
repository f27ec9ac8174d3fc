// The installation root. The host library lives in <root>/lib, so without an explicit root the
// library's own location gives it; the system's loader answers where it mapped it from.
#include "host/install.hpp"

#include <cstdlib>
#include <filesystem>

#include "vhost/platform/system.hpp"

namespace host {

std::string get_install_path() {
    if (const char* root = std::getenv("VELTRA_ROOT"); root && *root) return root;
    const std::string file = vhost::platform::fileOfLoadedCode(reinterpret_cast<const void*>(&get_install_path));
    if (file.empty()) return {};
    std::error_code error;
    std::filesystem::path library = std::filesystem::absolute(file, error);
    if (error) library = file;
    return library.lexically_normal().parent_path().parent_path().string();
}

}  // namespace host
