// Classifying symbol names, one per line of the input, as defined and as imported names. The
// detector must never throw, must set exactly one of "of no interest" and the interesting flags,
// and must keep the definition flags apart from the import flags.
#include <cstdlib>
#include <string>
#include <string_view>

#include "orbfile/api_detector.hpp"

namespace {

using orbfile::ApiDetector;

constexpr unsigned kDefFlags = ApiDetector::FLAG_FR | ApiDetector::FLAG_EP | ApiDetector::FLAG_VF | ApiDetector::FLAG_CP;
constexpr unsigned kUndefFlags = ApiDetector::FLAG_GD | ApiDetector::FLAG_AI | ApiDetector::FLAG_AR |
                                 ApiDetector::FLAG_AU | ApiDetector::FLAG_DV;

void check(unsigned flags, unsigned allowed) {
    if (flags & ~(allowed | ApiDetector::FLAG_NN)) std::abort();
    if ((flags & ApiDetector::FLAG_NN) && (flags & allowed)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (true) {
        const std::size_t end = input.find('\n');
        const std::string name(input.substr(0, end));
        unsigned flags = 0xFFFFFFFFu;
        ApiDetector::get_def_api(name, flags);
        check(flags, kDefFlags);
        flags = 0xFFFFFFFFu;
        const auto tag = ApiDetector::get_undef_api(name, flags);
        check(flags, kUndefFlags);
        if (static_cast<unsigned>(tag) > orbfile::Version::R2018a) std::abort();
        if (end == std::string_view::npos) break;
        input.remove_prefix(end + 1);
    }
    return 0;
}
