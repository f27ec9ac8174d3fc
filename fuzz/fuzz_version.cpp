// Version texts: "R<hex release> 0x<hex interface>" and everything that is not. A text the host
// cannot convert must leave the value as it was; any other text must be taken as given, and the
// numbers scanned from it must print back to a text that scans to the same numbers.
#include <cstdlib>
#include <string>

#include "host/exceptions.hpp"
#include "host/i18n.hpp"
#include "orbfile/version.hpp"

namespace {

void query(const orbfile::Version& v) {
    std::u16string buildrel;
    (void)v.get_buildrel_string(buildrel);
    (void)v.get_api_name();
    (void)v.get_release_name();
    (void)v.is_api_64bit();
    (void)v.is_api_current();
    (void)v.is_api_interleaved();
    (void)v.is_incompatible_api();
    (void)v.is_release_current();
    (void)v.is_default_orbcmd_api();
    for (auto tag : {orbfile::Version::NONE, orbfile::Version::COMPAT_32, orbfile::Version::R2017b,
                     orbfile::Version::R2018a}) {
        (void)v.is_same_api(tag);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    orbfile::Version version(0x2024B, 0x08000000);
    const std::u16string before = version.get_version();
    try {
        version.set(text);
    } catch (const host::UserException&) {
        // Not convertible: nothing may have changed.
        if (version.get_version() != before) std::abort();
        return 0;
    }
    // Kept as given (up to a NUL, where the C text ends); the empty text is the null version.
    const std::u16string converted = text.empty() ? std::u16string(orbfile::Version::nullver) : host::i18n::to_ustring(text);
    if (std::u16string(version.get_version()) != converted.substr(0, converted.find(u'\0'))) std::abort();
    query(version);

    unsigned relnum = 0, apinum = 0;
    const bool valid = version.get_version(relnum, apinum);
    if (valid && relnum != 0 && apinum != 0) {
        std::u16string printed;
        orbfile::Version::relnum2relstr(relnum, printed);
        printed += u' ';
        orbfile::Version::apinum2apistr(apinum, printed);
        orbfile::Version again;
        again.set(host::i18n::to_string(printed));
        unsigned relAgain = 0, apiAgain = 0;
        if (!again.get_version(relAgain, apiAgain) || relAgain != relnum || apiAgain != apinum) std::abort();
    }

    // The release-name form takes the same text as a release name.
    orbfile::Version named;
    named.set(text, size > 0 ? data[0] * 10u : 0u, u"1.0");
    query(named);
    return 0;
}
