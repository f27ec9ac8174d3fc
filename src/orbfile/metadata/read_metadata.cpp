#include "orbfile/metadata/read_metadata.hpp"

#include <filesystem>
#include <memory>
#include <string_view>

#include "host/i18n.hpp"
#include "orbfile/inspector.hpp"

namespace orbfile {
namespace {

unsigned apiVersionOfMacro(const char16_t* macro) {
    if (macro == nullptr) return 800;
    const std::u16string_view text(macro);
    if (text.find(u"COMPAT_32") != std::u16string_view::npos) return 700;
    if (text.find(u"R2017b") != std::u16string_view::npos) return 730;
    if (text.find(u"R2018a") != std::u16string_view::npos) return 800;
    return 0;
}

}  // namespace

int get_meta_data_from_orbfile(const std::string path, metadata::MetaData& out) {
    try {
        const auto inspector = std::make_unique<Inspector>(host::i18n::to_ustring(path), true);
        const std::string outdir = std::filesystem::path(path).parent_path().string();
        const unsigned apiVersion = apiVersionOfMacro(inspector->get_embedded_version_compiler_flag());
        const bool threadpoolSafe = inspector->is_threadpool_safe() && inspector->is_cpp_orb();
        out = metadata::MetaData(outdir, apiVersion, threadpoolSafe);
        return 0;
    } catch (...) {
        return 1;
    }
}

}  // namespace orbfile
