#include "startup/data_array_library.hpp"

#include <filesystem>

#include "host/install.hpp"
#include "host/ut.hpp"
#include "platform/install_layout.hpp"

namespace orb::startup {

std::u16string dataArrayLibraryPath() {
    return (std::filesystem::path(host::get_install_path()) / platform::kSharedLibraryDir /
            platform::kDataArrayLibraryFile)
        .u16string();
}

void* loadDataArrayLibrary(const std::u16string& path) noexcept {
    try {
        return host::utLoadLibrary(path);
    } catch (...) {
        // The host loader reports failure by a null handle; anything thrown on the way (a path
        // that cannot be converted, memory) is treated the same, since this runs during load.
        return nullptr;
    }
}

void* dataArrayLibrary() noexcept {
    static void* const handle = [] () noexcept -> void* {
        try {
            return loadDataArrayLibrary(dataArrayLibraryPath());
        } catch (...) {
            return nullptr;
        }
    }();
    return handle;
}

}  // namespace orb::startup
