// How the language shows values.
//
//   x = 5                     real scalars; non-integers with four decimals (x = 2.5000)
//   x = 1 + 2i                complex scalars
//   x = 'text'                character rows
//   x = true                  logical scalars
//   x =                       matrices: a blank line, rows of right-aligned columns, a blank line
//   x = []                    empty arrays (with their size when not 0x0: x = [](0x3))
//   x = struct with fields:   then one "    name: value" line per field (nested values summarised)
//   x = 1x2 cell              cell arrays, by size
//   x = ValueBox object       objects, by class name (with the size when not 1x1)
//   x = @name                 function handles
// Shown without a name (disp), a character row is its text without quotes.
#include <cmath>
#include <cstdio>
#include <sstream>

#include "host/i18n.hpp"
#include "vhost/lang/functions.hpp"

namespace vhost::lang {
namespace {

std::string sizeText(const ryArray* value) {
    std::string text;
    for (std::size_t d : value->dims()) text += (text.empty() ? "" : "x") + std::to_string(d);
    return text;
}

std::string number(double v, bool anyFraction) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
    char buffer[64];
    if (!anyFraction && std::fabs(v) < 1e15) std::snprintf(buffer, sizeof buffer, "%.0f", v);
    else if (std::fabs(v) >= 1e5 || (v != 0 && std::fabs(v) < 1e-4)) std::snprintf(buffer, sizeof buffer, "%.4e", v);
    else std::snprintf(buffer, sizeof buffer, "%.4f", v);
    return buffer;
}

bool isWhole(double v) { return std::isfinite(v) && v == std::floor(v); }

std::string element(std::complex<double> v, bool complex, bool anyFraction) {
    if (!complex) return number(v.real(), anyFraction);
    const std::string sign = v.imag() < 0 || std::signbit(v.imag()) ? " - " : " + ";
    return number(v.real(), anyFraction) + sign + number(std::fabs(v.imag()), anyFraction) + "i";
}

std::string charRows(const ryArray* value) {
    const std::size_t r = rows(value), c = columns(value);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < r; ++i) {
        std::u16string line;
        for (std::size_t j = 0; j < c; ++j) line += static_cast<char16_t>(elementAt(value, j * r + i).real());
        lines.push_back("'" + host::i18n::to_string(line) + "'");
    }
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

// One-line summary used inside structs.
std::string summary(const ryArray* value);

// The value's text: one line ("5", "'abc'") or a block (starting with a newline).
std::string body(const ryArray* value) {
    if (!value) return "[]";
    if (value->function()) return "@" + value->function()->text;
    if (value->cell()) return sizeText(value) + " cell";
    if (value->object()) {
        const std::string& name = value->object()->className;
        return value->numberOfElements() == 1 ? name + " object" : sizeText(value) + " " + name + " object";
    }
    if (const auto* s = value->structure()) {
        if (value->numberOfElements() != 1)
            return sizeText(value) + " struct array with fields: " + [&] {
                std::string names;
                for (const std::string& f : s->fields) names += (names.empty() ? "" : ", ") + f;
                return names;
            }();
        std::string text = "struct with fields:";
        for (std::size_t f = 0; f < s->fields.size(); ++f) text += "\n    " + s->fields[f] + ": " + summary(s->values[f]);
        return text;
    }
    const std::size_t count = value->numberOfElements();
    if (count == 0) {
        const bool square = value->dims().size() == 2 && value->dims()[0] == 0 && value->dims()[1] == 0;
        return value->classId() == ryCHAR_CLASS && square ? "''" : square ? "[]" : "[](" + sizeText(value) + ")";
    }
    if (value->classId() == ryCHAR_CLASS && value->dims().size() == 2)
        return rows(value) == 1 ? charRows(value) : "\n" + charRows(value) + "\n";
    if (value->classId() == ryLOGICAL_CLASS && count == 1) return elementAt(value, 0).real() != 0 ? "true" : "false";
    const bool complex = value->isComplex();
    bool anyFraction = false;
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = elementAt(value, i);
        anyFraction |= !isWhole(v.real()) && std::isfinite(v.real());
        anyFraction |= complex && !isWhole(v.imag()) && std::isfinite(v.imag());
    }
    if (count == 1) return element(elementAt(value, 0), complex, anyFraction);
    const std::size_t r = rows(value), c = columns(value);
    std::vector<std::string> cells(count);
    std::size_t width = 0;
    for (std::size_t i = 0; i < count; ++i) {
        cells[i] = element(elementAt(value, i), complex, anyFraction);
        width = std::max(width, cells[i].size());
    }
    std::string text = "\n";
    for (std::size_t i = 0; i < r; ++i) {
        text += "\n";
        for (std::size_t j = 0; j < c; ++j) {
            const std::string& cell = cells[j * r + i];
            text += std::string(width + 4 - cell.size(), ' ') + cell;
        }
    }
    return text + "\n";
}

std::string summary(const ryArray* value) {
    if (!value) return "[]";
    if (value->structure() || (value->numberOfElements() > 1 && value->classId() != ryCHAR_CLASS) ||
        (value->classId() == ryCHAR_CLASS && rows(value) > 1))
        return "[" + sizeText(value) + " " + value->className() + "]";
    return body(value);
}

}  // namespace

std::string render(const std::string& name, const ryArray* value) {
    // Text shown on its own is the text itself.
    if (name.empty() && value && value->classId() == ryCHAR_CLASS && value->dims().size() == 2 && rows(value) == 1)
        return charRows(value).substr(1, charRows(value).size() - 2) + "\n";
    std::string text = body(value);
    if (name.empty()) {
        text.erase(0, text.find_first_not_of('\n'));  // a block without its heading
        return text + (text.empty() || text.back() != '\n' ? "\n" : "");
    }
    return name + " =" + (text[0] == '\n' ? "" : " ") + text + (text.back() == '\n' ? "" : "\n");
}

}  // namespace vhost::lang
