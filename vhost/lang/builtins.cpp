// The core built-in functions of the language.
#include <cmath>
#include <cstdio>
#include <limits>

#include "host/ry.hpp"
#include "host/ut.hpp"
#include "vhost/graphics/graphics.hpp"
#include "vhost/lang/classes.hpp"
#include "vhost/lang/functions.hpp"
#include "vhost/lang/workspace.hpp"
#include "vhost/ry/lifetime.hpp"
#include "vhost/ut/output.hpp"

namespace vhost::lang {
namespace {

Values none() { return {}; }

Values one(Value v) {
    Values result;
    result.push_back(std::move(v));
    return result;
}

void needInputs(const Arguments& in, std::size_t least, std::size_t most, const char* usage) {
    if (in.size() < least || in.size() > most) fail("VELTRA:invalidArgument", std::string("Usage: ") + usage + ".");
}

bool isVariableName(const std::string& name) { return ry::isValidFieldName(name); }

// printf-style text from a format and language values: %s %d %i %u %f %g %e %x %c %%, and the
// escapes \n \t \\ in the format.
std::string formatText(const std::string& format, const Arguments& args) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == '\\' && i + 1 < format.size()) {
            const char e = format[++i];
            out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
            continue;
        }
        if (c != '%' || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        std::size_t j = i + 1;
        while (j < format.size() && std::string_view("-+ #0123456789.").find(format[j]) != std::string_view::npos) ++j;
        if (j >= format.size()) break;
        const char conversion = format[j];
        const std::string flags = format.substr(i, j - i);
        i = j;
        if (conversion == '%') {
            out += '%';
            continue;
        }
        if (next >= args.size()) continue;
        const ryArray* arg = args[next++];
        char buffer[512];
        if (conversion == 's') {
            const std::string text = arg->classId() == ryCHAR_CLASS ? textOf(arg, "The argument")
                                                                    : render("", arg).substr(0, render("", arg).size() - 1);
            std::snprintf(buffer, sizeof buffer, (flags + "s").c_str(), text.c_str());
        } else if (conversion == 'c') {
            std::snprintf(buffer, sizeof buffer, (flags + "c").c_str(), static_cast<int>(elementAt(arg, 0).real()));
        } else if (isDataArray(arg) && arg->numberOfElements() > 0) {
            const double v = elementAt(arg, 0).real();
            if (std::string_view("diuxX").find(conversion) != std::string_view::npos && v == std::floor(v))
                std::snprintf(buffer, sizeof buffer, (flags + "lld").c_str(), static_cast<long long>(v));
            else
                std::snprintf(buffer, sizeof buffer, (flags + (std::string_view("feEgG").find(conversion) != std::string_view::npos ? conversion : 'g')).c_str(), v);
        } else {
            buffer[0] = 0;
        }
        out += buffer;
    }
    return out;
}

// error/warning arguments: (msg), (fmt, args...) or (id, fmt, args...). The first argument is an
// identifier when more follow and it has the shape of one.
void splitMessage(const Arguments& in, std::string& identifier, std::string& message) {
    if (in.empty()) fail("VELTRA:invalidArgument", "A message is required.");
    const std::string first = textOf(in[0], "The message");
    if (in.size() > 1 && host::utIsValidMessageIdentifier(first.c_str())) {
        identifier = first;
        message = formatText(textOf(in[1], "The format"), Arguments(in.begin() + 2, in.end()));
    } else {
        message = in.size() > 1 ? formatText(first, Arguments(in.begin() + 1, in.end())) : first;
    }
}

Value castTo(const ryArray* value, ryClassID classId) {
    if (!isDataArray(value)) fail("VELTRA:invalidArgument", "Cannot convert a value of class " + value->className() + ".");
    std::vector<std::complex<double>> data;
    for (std::size_t i = 0; i < value->numberOfElements(); ++i) {
        auto v = elementAt(value, i);
        if (classId != ryDOUBLE_CLASS && classId != rySINGLE_CLASS) v = {std::round(v.real()), std::round(v.imag())};
        data.push_back(v);
    }
    Value result = makeMatrix(rows(value), columns(value), data, value->isComplex(), classId);
    result->setDimensions(value->dims());
    return result;
}

// A 1xN struct with fields type and subs, as substruct builds it.
Value indexStruct(const Arguments& in) {
    if (in.empty() || in.size() % 2) fail("VELTRA:invalidArgument", "Usage: substruct(type, subs, ...).");
    const std::size_t n = in.size() / 2;
    Value s(ry::newStructArray({1, n}, {"type", "subs"}));
    for (std::size_t k = 0; k < n; ++k) {
        const std::string type = textOf(in[2 * k], "The indexing type");
        if (type != "." && type != "()" && type != "{}")
            fail("VELTRA:invalidArgument", "The indexing type must be '.', '()' or '{}'.");
        if (type == "." && in[2 * k + 1]->classId() != ryCHAR_CLASS)
            fail("VELTRA:invalidArgument", "The subscript of '.' must be a name.");
        if (type != "." && !in[2 * k + 1]->cell())
            fail("VELTRA:invalidArgument", "The subscripts of '" + type + "' must be a cell array.");
        ry::setFieldValue(s.get(), k, 0, makeText(type).release());
        ry::setFieldValue(s.get(), k, 1, ry::sharedCopy(in[2 * k + 1]));
    }
    return s;
}

std::vector<IndexStep> stepsOf(const ryArray* s) {
    if (!s->structure() || ry::fieldNumber(s, "type") < 0 || ry::fieldNumber(s, "subs") < 0)
        fail("VELTRA:invalidArgument", "The indexing must be a struct with fields type and subs (see substruct).");
    const auto* content = s->structure();
    const std::size_t fields = content->fields.size();
    const auto typeField = static_cast<std::size_t>(ry::fieldNumber(s, "type"));
    const auto subsField = static_cast<std::size_t>(ry::fieldNumber(s, "subs"));
    std::vector<IndexStep> steps;
    for (std::size_t k = 0; k < s->numberOfElements(); ++k) {
        IndexStep step;
        step.type = textOf(content->values[k * fields + typeField], "The indexing type");
        const ryArray* subs = content->values[k * fields + subsField];
        if (step.type == ".") {
            step.name = textOf(subs, "The field name");
        } else if (subs && subs->cell()) {
            for (const ryArray* index : subs->cell()->elements) step.indices.push_back(index);
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

Value subsasgnSteps(Value container, const std::vector<IndexStep>& steps, std::size_t at, Value value) {
    if (at + 1 < steps.size()) {
        Value inner = readStep(container.get(), steps[at]);
        value = subsasgnSteps(std::move(inner), steps, at + 1, std::move(value));
    }
    return assignStep(std::move(container), steps[at], std::move(value));
}

Value sizeRow(const ryArray* value) {
    std::vector<std::complex<double>> dims;
    for (std::size_t d : value->dims()) dims.emplace_back(static_cast<double>(d));
    return makeMatrix(1, dims.size(), dims, false);
}

}  // namespace

void registerCoreBuiltins() {
    registerBuiltin("disp", [](int, const Arguments& in) {
        needInputs(in, 1, 1, "disp(value)");
        writeOutput(render("", in[0]));
        return none();
    });
    registerBuiltin("class", [](int, const Arguments& in) {
        needInputs(in, 1, 1, "class(value)");
        return one(makeText(in[0]->className()));
    });
    registerBuiltin("numel", [](int, const Arguments& in) {
        needInputs(in, 1, 1, "numel(value)");
        return one(makeDouble(static_cast<double>(in[0]->numberOfElements())));
    });
    registerBuiltin("size", [](int nargout, const Arguments& in) {
        needInputs(in, 1, 2, "size(value) or size(value, dim)");
        const auto& dims = in[0]->dims();
        if (in.size() == 2) {
            const double d = scalarOf(in[1], "The dimension");
            if (d < 1 || d != std::floor(d)) fail("VELTRA:invalidArgument", "The dimension must be a positive integer.");
            const auto k = static_cast<std::size_t>(d) - 1;
            return one(makeDouble(k < dims.size() ? static_cast<double>(dims[k]) : 1.0));
        }
        if (nargout <= 1) return one(sizeRow(in[0]));
        Values out;
        for (int k = 0; k < nargout; ++k) {
            double d = k < static_cast<int>(dims.size()) ? static_cast<double>(dims[k]) : 1.0;
            if (k == nargout - 1)  // the last output takes the product of the remaining dimensions
                for (std::size_t r = static_cast<std::size_t>(k) + 1; r < dims.size(); ++r) d *= static_cast<double>(dims[r]);
            out.push_back(makeDouble(d));
        }
        return out;
    });
    registerBuiltin("true", [](int, const Arguments&) { return one(makeLogical(true)); });
    registerBuiltin("false", [](int, const Arguments&) { return one(makeLogical(false)); });
    registerBuiltin("pi", [](int, const Arguments&) { return one(makeDouble(3.14159265358979323846)); });
    registerBuiltin("Inf", [](int, const Arguments&) { return one(makeDouble(std::numeric_limits<double>::infinity())); });
    registerBuiltin("NaN", [](int, const Arguments&) { return one(makeDouble(std::numeric_limits<double>::quiet_NaN())); });

    registerBuiltin("double", [](int, const Arguments& in) {
        needInputs(in, 1, 1, "double(value)");
        if (graphics::isGraphics(in[0])) return one(makeDouble(graphics::handleOf(in[0])));
        return one(castTo(in[0], ryDOUBLE_CLASS));
    });
    const std::pair<const char*, ryClassID> casts[] = {
        {"single", rySINGLE_CLASS}, {"int8", ryINT8_CLASS},     {"uint8", ryUINT8_CLASS},   {"int16", ryINT16_CLASS},
        {"uint16", ryUINT16_CLASS}, {"int32", ryINT32_CLASS},   {"uint32", ryUINT32_CLASS}, {"int64", ryINT64_CLASS},
        {"uint64", ryUINT64_CLASS}, {"logical", ryLOGICAL_CLASS}, {"char", ryCHAR_CLASS}};
    for (const auto& cast : casts) {
        const ryClassID classId = cast.second;  // a plain variable: lambdas cannot capture bindings everywhere
        const std::string usage = std::string(cast.first) + "(value)";
        registerBuiltin(cast.first, [classId, usage](int, const Arguments& in) {
            needInputs(in, 1, 1, usage.c_str());
            return one(castTo(in[0], classId));
        });
    }
    registerBuiltin("struct", [](int, const Arguments& in) {
        if (in.size() % 2) fail("VELTRA:invalidArgument", "Usage: struct(name, value, ...).");
        Value s(ry::newStructArray({1, 1}, {}));
        for (std::size_t k = 0; k < in.size(); k += 2)
            s = assignField(std::move(s), textOf(in[k], "A field name"), copyOf(in[k + 1]));
        return one(std::move(s));
    });

    registerBuiltin("error", [](int, const Arguments& in) -> Values {
        std::string identifier, message;
        splitMessage(in, identifier, message);
        throw host::UserException(identifier, message);
    });
    registerBuiltin("warning", [](int, const Arguments& in) {
        std::string identifier, message;
        splitMessage(in, identifier, message);
        host::ryWarningMsgIdAndTxt(identifier.c_str(), "%s", message.c_str());
        return none();
    });

    registerBuiltin("evalin", [](int, const Arguments& in) {
        needInputs(in, 2, 2, "evalin(workspace, text)");
        Workspace& target = workspaces().named(textOf(in[0], "The workspace name"));
        evaluateIn(target, textOf(in[1], "The text to evaluate"));
        return none();
    });
    registerBuiltin("assignin", [](int, const Arguments& in) {
        needInputs(in, 3, 3, "assignin(workspace, name, value)");
        Workspace& target = workspaces().named(textOf(in[0], "The workspace name"));
        const std::string name = textOf(in[1], "The variable name");
        if (!isVariableName(name)) fail("VELTRA:invalidArgument", "'" + name + "' is not a valid variable name.");
        target.assign(name, copyOf(in[2]));
        return none();
    });
    registerBuiltin("substruct", [](int, const Arguments& in) { return one(indexStruct(in)); });
    registerBuiltin("subsref", [](int, const Arguments& in) {
        needInputs(in, 2, 2, "subsref(value, s)");
        Value value = copyOf(in[0]);
        for (const IndexStep& step : stepsOf(in[1])) value = readStep(value.get(), step);
        return one(std::move(value));
    });
    registerBuiltin("subsasgn", [](int, const Arguments& in) {
        needInputs(in, 3, 3, "subsasgn(value, s, new)");
        const auto steps = stepsOf(in[1]);
        if (steps.empty()) return one(copyOf(in[2]));
        return one(subsasgnSteps(copyOf(in[0]), steps, 0, copyOf(in[2])));
    });

    // Helpers through which asynchronous requests read and write variables and properties.
    registerBuiltin("veltra.internal.orb.getVariable", [](int, const Arguments& in) {
        needInputs(in, 2, 2, "getVariable(name, workspace)");
        const std::string name = textOf(in[0], "The variable name");
        const std::string workspace = textOf(in[1], "The workspace name");
        const ryArray* value = workspaces().named(workspace).find(name);
        if (!value)
            fail("VELTRA:undefinedFunction", "There is no variable '" + name + "' in the " + workspace + " workspace.");
        return one(copyOf(value));
    });
    registerBuiltin("veltra.internal.orb.setVariable", [](int, const Arguments& in) {
        needInputs(in, 3, 3, "setVariable(name, value, workspace)");
        const std::string name = textOf(in[0], "The variable name");
        const std::string workspace = textOf(in[2], "The workspace name");
        if (!isVariableName(name)) fail("VELTRA:invalidArgument", "'" + name + "' is not a valid variable name.");
        // Called on behalf of a module: "global" declares the name in the module's caller.
        Workspace& target = workspace == "global" ? workspaces().current() : workspaces().named(workspace);
        if (workspace == "global") target.declareGlobal(name);
        target.assign(name, copyOf(in[1]));
        return none();
    });
    registerBuiltin("veltra.internal.orb.getProperty", [](int, const Arguments& in) {
        needInputs(in, 3, 3, "getProperty(object, index, name)");
        Value value = readStep(in[0], {"()", {}, {in[1]}});
        return one(readStep(value.get(), {".", textOf(in[2], "The property name"), {}}));
    });
    registerBuiltin("veltra.internal.orb.setProperty", [](int, const Arguments& in) {
        needInputs(in, 4, 4, "setProperty(object, index, name, value)");
        const std::vector<IndexStep> steps{{"()", {}, {in[1]}}, {".", textOf(in[2], "The property name"), {}}};
        return one(subsasgnSteps(copyOf(in[0]), steps, 0, copyOf(in[3])));
    });
}

}  // namespace vhost::lang
