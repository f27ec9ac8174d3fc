// Classifying a module's symbol names: which entry points it defines, whether it carries the
// version function, and which generation of the array interface each import belongs to.
//
// A compiled module never says which interface generation it was built against; its imports do,
// because every function whose behaviour differs between generations is imported under a name
// ending in the generation (ryGetPi_730, rySetPr_800). The detector looks at one name at a time
// and keeps no state; the Inspector draws its conclusions from the counts.
#pragma once

#include <array>
#include <locale>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "orbfile/version.hpp"
#include "platform/export.hpp"

namespace orbfile {

class ORB_API ApiDetector {
public:
    // Flags of one symbol. get_def_api sets FR, EP, VF, CP; get_undef_api sets GD, AI, AR, AU, DV;
    // both set NN for a name of no interest.
    static constexpr unsigned FLAG_FR = 0x1;       // the entry point spelled in one case only (Fortran)
    static constexpr unsigned FLAG_GD = 0x2;       // dimension query of the unversioned or 700 interface
    static constexpr unsigned FLAG_AI = 0x4;       // separate-imaginary-part accessor
    static constexpr unsigned FLAG_AR = 0x8;       // real-part accessor rygetpr / rysetpr
    static constexpr unsigned FLAG_AU = 0x10;      // untyped data accessor rygetdata / rysetdata
    static constexpr unsigned FLAG_DV = 0x20;      // the namespaced array interface (ry_array_api)
    static constexpr unsigned FLAG_EP = 0x40;      // the orbFunction entry point
    static constexpr unsigned FLAG_VF = 0x80;      // the version function orbfilerequiredapiversion
    static constexpr unsigned FLAG_CP = 0x100;     // a C++ module entry point
    static constexpr unsigned FLAG_NN = 0x100000;  // of no interest

    // Classifies a name the module defines (exports). `flags` is overwritten. Never throws.
    static void get_def_api(const std::string& symbol, unsigned& flags);
    // Classifies a name the module imports; answers the generation its suffix names (NONE when it
    // names none). `flags` is overwritten. Never throws.
    static Version::APITAG get_undef_api(const std::string& symbol, unsigned& flags);
};

// The same classification for many names at once: the locale's lower-casing and character
// classes are taken once, when the classifier is made, and no name is copied to the heap (a
// lower-cased copy of a name of up to 256 bytes stays on the stack). ApiDetector's functions make
// one for the global locale at each call.
class ORB_API SymbolClassifier {
public:
    explicit SymbolClassifier(const std::locale& locale = std::locale());
    void classify_defined(std::string_view symbol, unsigned& flags) const;
    // The indices of `names`, in order, in which classify_defined could find more than FLAG_NN (in
    // the others it finds FLAG_NN). `block` holds every name, and all of its bytes may be read:
    // the names of one symbol table, viewed where the table lies, are scanned in one pass over it.
    std::vector<std::size_t> namesWorthClassifying(std::string_view block, const std::vector<std::string_view>& names) const;
    Version::APITAG classify_undefined(std::string_view symbol, unsigned& flags) const;

private:
    static constexpr std::size_t kChars = 256;
    struct Lowered {
        char local[256];
        std::string heap;
    };
    std::string_view lowered(std::string_view symbol, Lowered& out) const;
    bool isSingleCase(std::string_view symbol) const;
    // Whether the lower-cased name could hold a token starting with "orb": false only when no
    // three bytes lower-casing to it start the name or follow ':' or '_' (and the locale leaves
    // those bytes alone, so that the name's boundaries are its lower-cased form's).
    bool mayHoldOrbToken(std::string_view symbol) const;

    std::array<char, kChars> m_lower{};
    std::array<bool, kChars> m_alpha{};
    std::array<bool, kChars> m_upper{};
    bool m_scanBoundaries = false;       // mayHoldOrbToken may look for ':' and '_' alone
    bool m_onlyAsciiOLowersToO = false;  // no byte but 'o' and 'O' lower-cases to 'o'
};

}  // namespace orbfile
