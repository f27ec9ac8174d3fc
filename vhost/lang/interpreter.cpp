#include "vhost/lang/interpreter.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <mutex>

#include "host/ry.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/lang/classes.hpp"
#include "vhost/lang/functions.hpp"
#include "vhost/lang/syntax.hpp"
#include "vhost/lang/workspace.hpp"
#include "vhost/ry/lifetime.hpp"
#include "vhost/ut/output.hpp"

namespace vhost::lang {

// --- built-in registry and calls -------------------------------------------------------------

namespace {

struct BuiltinRegistry {
    std::mutex mutex;
    std::map<std::string, Builtin> functions;
};

BuiltinRegistry& builtinRegistry() {
    static BuiltinRegistry registry;
    return registry;
}

// Runs `body`; a host error from it that names no function is named `name`'s.
template <class Body>
decltype(auto) naming(const std::string& name, Body&& body) {
    try {
        return body();
    } catch (host::UserException& error) {
        if (error.functionName().empty()) error.setFunctionName(name);
        throw;
    }
}

// Checked where they are: a list of outputs held in place costs a copy of each on every move.
void checkOutputs(const std::string& name, int nargout, Values& outputs) {
    // Nearly every call: one output given, at most one asked for.
    if (outputs.size() == 1 && nargout <= 1 && (nargout < 1 || outputs[0])) [[likely]]
        return;
    if (static_cast<int>(outputs.size()) < nargout) {
        if (outputs.empty()) fail("VELTRA:tooManyOutputs", "Too many output arguments for " + name + ".");
        fail("VELTRA:tooManyOutputs", name + " gives at most " + std::to_string(outputs.size()) +
                                          (outputs.size() == 1 ? " output." : " outputs."));
    }
    for (int i = 0; i < nargout; ++i)
        if (!outputs[i]) fail("VELTRA:unassignedOutput", "Output " + std::to_string(i + 1) + " of " + name + " was not set.");
    // With no output asked for, the first one (if any) is the call's value.
    const auto kept = static_cast<std::size_t>(std::max(nargout, 1));
    if (outputs.size() > kept) outputs.erase(outputs.begin() + static_cast<std::ptrdiff_t>(kept), outputs.end());
}

Values checkedOutputs(const std::string& name, int nargout, Values outputs) {
    checkOutputs(name, nargout, outputs);
    return outputs;
}

// Calls a function record of the dispatcher the way a module is called: outputs arrive tracked
// by the caller's array-list context and are taken out of it.
Values callRecord(host::HostFunctionHandleFile& function, int nargout, const Arguments& inputs) {
    std::vector<ryArray*> outputs(static_cast<std::size_t>(std::max(nargout, 1)), nullptr);
    std::vector<ryArray*> in;
    for (const ryArray* input : inputs) in.push_back(const_cast<ryArray*>(input));
    currentDispatcher().call(function, nargout, outputs.data(), static_cast<int>(in.size()), in.data());
    Values result;
    for (ryArray* output : outputs) result.push_back(output ? host::from_veltra(output) : Value());
    // An output asked for and left unset is the module's omission: say so, naming it.
    for (int i = 0; i < nargout; ++i)
        if (!result[static_cast<std::size_t>(i)])
            fail("VELTRA:unassignedOutput",
                 "Output " + std::to_string(i + 1) + " of " + function.get_hfuncname() + " was not set.");
    while (!result.empty() && !result.back()) result.pop_back();
    return result;
}

}  // namespace

void registerBuiltin(const std::string& name, Builtin function) {
    BuiltinRegistry& registry = builtinRegistry();
    std::lock_guard lock(registry.mutex);
    registry.functions[name] = std::move(function);
}

const Builtin* findBuiltin(const std::string& name) {
    // The last built-in each thread found: a thread that calls one function over and over (a
    // queue of requests) skips the shared table's lock and search. Built-ins are never removed
    // and their entries never move, so a name once found stays found there; a miss is not kept,
    // as the name may be registered later.
    // The table's own entry, name and function, which lives as long as the process: plain
    // pointers, as a thread-local with a destructor costs a second look-up on every call; in the
    // initial-exec model (this library is loaded with the program), reached without a call.
    struct Last {
        const std::string* name;
        const Builtin* builtin;
    };
    thread_local Last last __attribute__((tls_model("initial-exec"))){nullptr, nullptr};
    if (last.builtin && name == *last.name) return last.builtin;
    ensureBuiltins();
    BuiltinRegistry& registry = builtinRegistry();
    std::lock_guard lock(registry.mutex);
    auto entry = registry.functions.find(name);
    if (entry == registry.functions.end()) return nullptr;
    last = {&entry->first, &entry->second};
    return &entry->second;
}

std::vector<std::string> builtinNames() {
    ensureBuiltins();
    BuiltinRegistry& registry = builtinRegistry();
    std::lock_guard lock(registry.mutex);
    std::vector<std::string> names;
    for (const auto& entry : registry.functions) names.push_back(entry.first);
    return names;
}

void ensureBuiltins() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerCoreBuiltins();
        registerClassBuiltins();
    });
}

bool isFunction(const std::string& name) {
    return findBuiltin(name) || currentDispatcher().findFunction(name) != nullptr;
}

Values callBuiltin(const std::string& name, const Builtin& builtin, int nargout,
                               const Arguments& inputs) {
    // No return from inside a try block: the list would be moved out rather than made in place.
    Values outputs = naming(name, [&] { return builtin(nargout, inputs); });
    naming(name, [&] { checkOutputs(name, nargout, outputs); });
    return outputs;
}

Values callFunction(const std::string& name, int nargout, const Arguments& inputs) {
    if (const Builtin* builtin = findBuiltin(name)) return callBuiltin(name, *builtin, nargout, inputs);
    if (host::HostFunctionHandleFile* function = currentDispatcher().findFunction(name))
        return checkedOutputs(name, nargout, callRecord(*function, nargout, inputs));
    fail("VELTRA:undefinedFunction", "Undefined function or variable '" + name + "'.");
}

Values callHandle(const ryArray* handle, int nargout, const Arguments& inputs) {
    const auto* content = handle->function();
    auto* target = content ? static_cast<HandleTarget*>(content->payload.get()) : nullptr;
    if (!target) fail("VELTRA:invalidArgument", "The function handle does not name a function.");
    return checkedOutputs(content->text, nargout, target->call(nargout, inputs));
}

// --- evaluation --------------------------------------------------------------------------------

namespace {

class Evaluator {
public:
    explicit Evaluator(Workspace& workspace) : m_workspace(workspace) {}

    void run(const Statement& st) {
        switch (st.kind) {
        case Statement::Command: return command(st);
        case Statement::Assignment: return assignment(st);
        case Statement::Expression: return expressionStatement(st);
        }
    }

    // The values of an expression: several only for a call asked for several outputs.
    Values values(const Expr& e, int nargout) {
        switch (e.kind) {
        case Expr::Number: return one(e.imaginary ? makeComplex({0, e.number}) : makeDouble(e.number));
        case Expr::Text: return one(makeText(e.text));
        case Expr::Colon: return one(makeText(":"));
        case Expr::Matrix: return one(matrix(e));
        case Expr::CellLiteral: return one(cellLiteral(e));
        case Expr::Unary: {
            Value operand = single(*e.base);
            return one(e.op == '-' ? negate(operand.get()) : std::move(operand));
        }
        case Expr::Binary: {
            Value left = single(*e.left);
            Value right = single(*e.right);
            return one(arithmetic(e.op, left.get(), right.get()));
        }
        case Expr::Name: return reference(e.text, {}, nargout);
        case Expr::Postfix:
            if (e.base->kind == Expr::Name) return reference(e.base->text, e.suffixes, nargout);
            return one(applySuffixes(single(*e.base), e.suffixes, 0, nargout));
        }
        return {};
    }

    Value single(const Expr& e) {
        Values result = values(e, 1);
        if (result.empty() || !result[0]) fail("VELTRA:unassignedOutput", "The expression gives no value.");
        return std::move(result[0]);
    }

private:
    static Values one(Value v) {
        Values result;
        result.push_back(std::move(v));
        return result;
    }

    Arguments borrowed(const Values& owned) {
        Arguments args;
        for (const Value& v : owned) args.push_back(v.get());
        return args;
    }

    Values evaluateArgs(const std::vector<ExprPtr>& exprs) {
        Values args;
        for (const ExprPtr& arg : exprs) args.push_back(single(*arg));
        return args;
    }

    // NAME followed by suffixes: a variable, a dotted function name (pkg.sub.fn), or a function.
    Values reference(const std::string& name, const std::vector<Suffix>& suffixes, int nargout) {
        if (const ryArray* variable = m_workspace.find(name)) {
            if (variable->function() && !suffixes.empty() && suffixes[0].kind == Suffix::Paren) {
                Values args = evaluateArgs(suffixes[0].args);
                Values outputs = callHandle(variable, suffixes.size() == 1 ? nargout : 1, borrowed(args));
                if (suffixes.size() == 1) return outputs;
                return one(applySuffixes(firstOf(std::move(outputs), name), suffixes, 1, nargout));
            }
            return one(applySuffixes(copyOf(variable), suffixes, 0, nargout));
        }
        // Longest dotted prefix that names a function.
        std::string qualified = name;
        std::size_t used = 0;
        std::string best;
        std::size_t bestUsed = 0;
        if (isFunction(qualified)) best = qualified;
        while (used < suffixes.size() && suffixes[used].kind == Suffix::Dot) {
            qualified += "." + suffixes[used].name;
            ++used;
            if (isFunction(qualified)) {
                best = qualified;
                bestUsed = used;
            }
        }
        if (best.empty()) fail("VELTRA:undefinedFunction", "Undefined function or variable '" + qualified + "'.");
        std::size_t next = bestUsed;
        Values args;
        if (next < suffixes.size() && suffixes[next].kind == Suffix::Paren) args = evaluateArgs(suffixes[next++].args);
        const bool last = next == suffixes.size();
        Values outputs = callFunction(best, last ? nargout : 1, borrowed(args));
        if (last) return outputs;
        return one(applySuffixes(firstOf(std::move(outputs), best), suffixes, next, nargout));
    }

    static Value firstOf(Values outputs, const std::string& name) {
        if (outputs.empty() || !outputs[0]) fail("VELTRA:unassignedOutput", name + " gave no value to index into.");
        return std::move(outputs[0]);
    }

    Value applySuffixes(Value value, const std::vector<Suffix>& suffixes, std::size_t from, int) {
        for (std::size_t i = from; i < suffixes.size(); ++i) {
            const Suffix& s = suffixes[i];
            if (s.kind == Suffix::Dot) {
                value = fieldOf(value.get(), s.name);
                continue;
            }
            Values args = evaluateArgs(s.args);
            if (value->object() && overloadsIndexing(value.get())) {
                value = overloadedRead(value.get(), s.kind == Suffix::Paren ? "()" : "{}", borrowed(args));
            } else {
                value = s.kind == Suffix::Paren ? indexParen(value.get(), borrowed(args)) : indexBrace(value.get(), borrowed(args));
            }
        }
        return value;
    }

    Value matrix(const Expr& e) {
        std::vector<std::vector<Value>> owned;
        std::vector<std::vector<const ryArray*>> layout;
        for (const auto& row : e.rows) {
            owned.emplace_back();
            layout.emplace_back();
            for (const ExprPtr& item : row) {
                for (Value& v : values(*item, 1)) {
                    if (!v) continue;
                    layout.back().push_back(v.get());
                    owned.back().push_back(std::move(v));
                }
            }
        }
        return concatenate(layout);
    }

    Value cellLiteral(const Expr& e) {
        std::vector<std::vector<Value>> rowsOfValues;
        std::size_t width = 0;
        for (const auto& row : e.rows) {
            rowsOfValues.emplace_back();
            for (const ExprPtr& item : row) rowsOfValues.back().push_back(single(*item));
            if (width && rowsOfValues.back().size() != width)
                fail("VELTRA:dimensionMismatch", "Rows of a cell array must have the same number of elements.");
            width = rowsOfValues.back().size();
        }
        Value cell(ry::newCellArray({rowsOfValues.size(), rowsOfValues.empty() ? 0 : width}));
        for (std::size_t r = 0; r < rowsOfValues.size(); ++r)
            for (std::size_t c = 0; c < width; ++c)
                ry::setCell(cell.get(), c * rowsOfValues.size() + r, rowsOfValues[r][c].release());
        return cell;
    }

    void command(const Statement& st) {
        if (st.command == "global") {
            for (const std::string& name : st.words) m_workspace.declareGlobal(name);
            return;
        }
        if (st.words.empty()) {
            m_workspace.clear();
            return;
        }
        if (st.words.size() == 1 && st.words[0] == "all") {
            m_workspace.clear();
            workspaces().global().clear();
            clearAll();
            return;
        }
        for (const std::string& name : st.words) {
            m_workspace.remove(name);
            clear(name);
        }
    }

    void assignment(const Statement& st) {
        const int nargout = static_cast<int>(st.targets.size());
        Values results;
        if (st.multiple) {
            results = values(*st.value, nargout);
            if (static_cast<int>(results.size()) < nargout)
                fail("VELTRA:tooManyOutputs", "Too many output arguments.");
        } else {
            results.push_back(single(*st.value));
        }
        for (int i = 0; i < nargout; ++i) {
            const Target& target = st.targets[i];
            Value value = target.fields.empty() ? std::move(results[i]) : withField(target, std::move(results[i]));
            m_workspace.assign(target.name, std::move(value));
            if (st.show) display(target.name, m_workspace.find(target.name));
        }
    }

    // s.a.b = v: the variable with the nested field set (structs are created as needed).
    Value withField(const Target& target, Value value) {
        const ryArray* existing = m_workspace.find(target.name);
        Value root = existing ? copyOf(existing) : Value(ry::newStructArray({1, 1}, {}));
        return setPath(std::move(root), target.fields, 0, std::move(value));
    }

    Value setPath(Value container, const std::vector<std::string>& fields, std::size_t at, Value value) {
        if (at + 1 < fields.size()) {
            Value inner;
            if (container->structure() && ry::fieldNumber(container.get(), fields[at]) >= 0 &&
                container->structure()->values[static_cast<std::size_t>(ry::fieldNumber(container.get(), fields[at]))])
                inner = fieldOf(container.get(), fields[at]);
            else
                inner = Value(ry::newStructArray({1, 1}, {}));
            value = setPath(std::move(inner), fields, at + 1, std::move(value));
        }
        return assignField(std::move(container), fields[at], std::move(value));
    }

    void expressionStatement(const Statement& st) {
        // A bare variable is shown under its own name and does not change "ans".
        if (st.value->kind == Expr::Name) {
            if (const ryArray* variable = m_workspace.find(st.value->text)) {
                if (st.show) display(st.value->text, variable);
                return;
            }
        }
        Values results = values(*st.value, 0);
        if (results.empty() || !results[0]) return;
        m_workspace.assign("ans", std::move(results[0]));
        if (st.show) display("ans", m_workspace.find("ans"));
    }

    Workspace& m_workspace;
};

}  // namespace

void evaluateIn(Workspace& workspace, std::string_view statements) {
    const std::vector<Statement> parsed = parseStatements(statements);
    WorkspaceScope scope(workspace);
    for (const Statement& st : parsed) {
        // Whatever a statement leaves tracked (callback results, module temporaries) goes with it.
        const host::ryContextToken token = host::ryEnterNewArrayListContext();
        try {
            Evaluator(workspace).run(st);
        } catch (...) {
            host::ryExitArrayListContext(token, nullptr, 0, false);
            throw;
        }
        host::ryExitArrayListContext(token, nullptr, 0, false);
    }
}

namespace {
thread_local int t_evaluationDepth = 0;

// The engine is idle once a top-level evaluation ends: requests queued for it meanwhile (by
// modules, from any thread) run now, on the signal thread.
void runQueuedWhenIdle() {
    if (t_evaluationDepth != 0) return;
    vhost::Engine& engine = vhost::currentEngine();
    if (engine.isSignalThread()) engine.runPosted();
}
}  // namespace

void evaluate(std::string_view statements) {
    ++t_evaluationDepth;
    try {
        evaluateIn(workspaces().current(), statements);
    } catch (...) {
        --t_evaluationDepth;
        runQueuedWhenIdle();
        throw;
    }
    --t_evaluationDepth;
    runQueuedWhenIdle();
}

ryArray* parseLiteral(std::string_view text) {
    static const std::vector<std::string> constants{"true", "false", "pi", "Inf", "NaN"};
    ExprPtr e = parseExpression(text);
    // Only literals: no variables, no calls but the named constants.
    std::function<void(const Expr&)> check = [&](const Expr& x) {
        if (x.kind == Expr::Name && std::find(constants.begin(), constants.end(), x.text) == constants.end())
            fail("VELTRA:parse", "'" + std::string(text) + "' is not a literal value.");
        if (x.kind == Expr::Postfix) fail("VELTRA:parse", "'" + std::string(text) + "' is not a literal value.");
        if (x.base) check(*x.base);
        if (x.left) check(*x.left);
        if (x.right) check(*x.right);
        for (const auto& row : x.rows)
            for (const ExprPtr& item : row) check(*item);
    };
    check(*e);
    Workspace scratch(nullptr);
    return Evaluator(scratch).single(*e).release();
}

std::vector<ryArray*> call(const std::string& name, int nlhs, const std::vector<ryArray*>& inputs) {
    Arguments args(inputs.begin(), inputs.end());
    std::vector<ryArray*> result;
    for (Value& v : callFunction(name, nlhs, args)) result.push_back(v.release());
    return result;
}

void display(const std::string& name, const ryArray* value) { writeOutput(render(name, value)); }

}  // namespace vhost::lang
