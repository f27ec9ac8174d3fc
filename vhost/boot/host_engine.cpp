// The engine's HostEngine: runs requests of C++ modules in the host language.
//
// A synchronous feval runs on the engine's signal thread, right away: the arguments become host
// arrays, the language calls the function with the request's output and error streams in place
// of the command window, and the outputs come back as data arrays. A host error leaves as the
// distributor's RuntimeException; anything else leaves unchanged.
#include <future>
#include <stdexcept>
#include <string_view>

#include "host/dataarray.hpp"
#include "host/engine.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "vhost/boot/boot.hpp"
#include "vhost/engine/host_engine.hpp"
#include "vhost/lang/interpreter.hpp"
#include "vhost/ut/output.hpp"

namespace vhost::boot {
namespace {

// Host arrays made for one request, destroyed when it ends however it ends.
struct HostArrays {
    std::vector<ryArray*> arrays;
    HostArrays() = default;
    HostArrays(const HostArrays&) = delete;
    HostArrays& operator=(const HostArrays&) = delete;
    ~HostArrays() {
        for (ryArray* array : arrays) host::destroyArray(array);
    }
};

// Printed text reaches a request's stream as UTF-16, in one write per piece of output.
OutputSink streamSink(const std::shared_ptr<host::u16streambuf>& buffer) {
    if (!buffer) return {};
    return [buffer](std::string_view text) {
        const std::u16string wide = host::i18n::to_ustring(text);
        buffer->sputn(wide.data(), static_cast<std::streamsize>(wide.size()));
    };
}

class LanguageEngine final : public host::HostEngine {
public:
    explicit LanguageEngine(Engine& engine) : m_engine(engine) {}

    host::Future<host::Outputs> feval(const std::string& name, const host::Outputs& arguments, int nlhs,
                                      const host::RunOptions& options, bool /*flag*/,
                                      host::RequestID /*id*/) override {
        std::promise<host::Outputs> result;
        try {
            result.set_value(run(name, arguments, nlhs, options));
        } catch (...) {
            result.set_exception(std::current_exception());
        }
        return host::Future<host::Outputs>(result.get_future().share(), nullptr);
    }

    host::Future<void> fevalWithCompletion(const std::string&, const host::Outputs&, int, host::FevalCompletion,
                                           const host::RunOptions&, host::RequestID) override {
        throw std::logic_error("this host has no command queue for asynchronous requests");
    }

    host::Future<void> evalWithCompletion(const std::u16string&, host::EvalCompletion, const host::RunOptions&,
                                          host::RequestID) override {
        throw std::logic_error("this host has no command queue for asynchronous requests");
    }

private:
    host::Outputs run(const std::string& name, const host::Outputs& arguments, int nlhs,
                      const host::RunOptions& options) {
        if (!m_engine.isSignalThread()) {
            throw std::logic_error("a synchronous request must come from the engine's signal thread");
        }
        EngineScope scope(m_engine);
        HostArrays inputs;
        inputs.arrays.reserve(arguments.size());
        for (const auto& argument : arguments) inputs.arrays.push_back(host::data::createRyArray(argument));

        HostArrays outputs;
        {
            ThreadOutputRedirect redirect(streamSink(options.outStream()), streamSink(options.errStream()));
            try {
                outputs.arrays = vhost::lang::call(name, nlhs, inputs.arrays);
            } catch (const host::RuntimeException&) {
                throw;
            } catch (const host::UserException& error) {
                host::RuntimeException runtime(error);
                if (runtime.functionName().empty()) runtime.setFunctionName(name);
                throw runtime;
            }
        }
        host::Outputs result;
        const std::size_t wanted = nlhs < 0 ? 0 : static_cast<std::size_t>(nlhs);
        for (std::size_t i = 0; i < wanted && i < outputs.arrays.size(); ++i) {
            result.push_back(host::data::createArrayFromRyArray(outputs.arrays[i]));
        }
        return result;
    }

    Engine& m_engine;
};

}  // namespace

void installHostEngine() {
    setHostEngineFactory([](Engine& engine) { return std::make_shared<LanguageEngine>(engine); });
}

}  // namespace vhost::boot
