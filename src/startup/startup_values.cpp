#include "startup/startup_values.hpp"

#include <filesystem>

#include "host/install.hpp"
#include "platform/install_layout.hpp"

namespace orb::startup {

namespace fs = std::filesystem;

const std::string& manifestTemplatePath() {
    static const std::string path =
        (fs::path(host::get_install_path()) / "extern" / "version" / "orbMetadata.json").string();
    return path;
}

const std::u16string& resourceCompilerPath() {
    static const std::u16string path =
        (fs::path(host::get_install_path()) / "bin" / platform::kBinaryPlatformDir /
         (std::string("usResourceCompiler3") + platform::kExecutableSuffix))
            .u16string();
    return path;
}

}  // namespace orb::startup
