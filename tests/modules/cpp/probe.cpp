// A C++ module on the SDK, to check what module authors rely on. The first input names an action:
//   probe('count')                 calls made on this object so far, this one included
//   probe('feval', NAME, ARGS...)  calls NAME with ARGS and one output; returns the output and
//                                  what NAME printed (two outputs)
//   probe('printed', NAME, ARGS...) calls NAME with no outputs; returns what it printed and its
//                                  error text
//   probe('catch', NAME, ARGS...)  calls NAME, catches the host error; returns its identifier,
//                                  message, status, function name and number of causes
//   probe('escape', NAME, ARGS...) calls NAME and lets a host error escape
//   probe('throw', ID, MESSAGE)    throws an error of its own
//   probe('std')                   throws a standard exception
//   probe('name')                  the name it is called under
//   probe('lock') / probe('unlock')
//   probe('async', NAME, ARGS...)  the same call as feval, started asynchronously and waited for
//                                  on the calling thread
//   probe('worker', NAME, ARGS...) started from another thread, waited for here
//   probe('cancelled', NAME)       started, cancelled at once; returns the failure's identifier
//   probe('eval', TEXT)            evaluates TEXT asynchronously and waits; returns what it printed
//   probe('later', TEXT)           starts evaluating TEXT and returns without waiting
//   probe('getvar', NAME, WS) / probe('setvar', NAME, VALUE, WS)       (and 'getvarasync')
//   probe('getprop', OBJ, INDEX, NAME) / probe('setprop', OBJ, INDEX, NAME, VALUE)
//                                  (and 'getpropasync', 'setpropasync'); INDEX is 0-based
#include <stdexcept>
#include <string>
#include <optional>
#include <thread>

#include <orb_cpp.hpp>

class OrbFunction : public orb::cpp::Function {
public:
    void operator()(orb::cpp::ArgumentList outputs, orb::cpp::ArgumentList inputs) override {
        ++m_calls;
        orb::data::ArrayFactory factory;
        const std::string action = orb::data::CharArray(inputs[0]).toUTF8();
        std::vector<orb::data::Array> rest(inputs.begin() + 1, inputs.end());
        std::string name;
        if (!rest.empty() && rest[0].getType() == orb::data::ArrayType::CHAR) {
            name = orb::data::CharArray(rest[0]).toUTF8();
            rest.erase(rest.begin());
        }
        auto engine = getEngine();
        if (action == "count") {
            outputs[0] = factory.createScalar<double>(m_calls);
        } else if (action == "feval") {
            auto printed = std::make_shared<orb::cpp::TextBuffer>();
            outputs[0] = engine->feval(name, rest, printed);
            if (outputs.size() > 1) outputs[1] = factory.createCharArray(printed->text);
        } else if (action == "printed") {
            auto printed = std::make_shared<orb::cpp::TextBuffer>();
            auto errors = std::make_shared<orb::cpp::TextBuffer>();
            engine->feval(name, 0, rest, printed, errors);
            outputs[0] = factory.createCharArray(printed->text);
            if (outputs.size() > 1) outputs[1] = factory.createCharArray(errors->text);
        } else if (action == "catch") {
            try {
                engine->feval(name, 0, rest);
                outputs[0] = factory.createCharArray(std::string("no error"));
            } catch (const orb::cpp::VeltraException& e) {
                outputs[0] = factory.createCharArray(e.getMessageID());
                if (outputs.size() > 1) outputs[1] = factory.createCharArray(e.getMessageText());
                if (outputs.size() > 2) outputs[2] = factory.createScalar<double>(e.getStatus());
                if (outputs.size() > 3) outputs[3] = factory.createCharArray(e.getFunctionName());
                if (outputs.size() > 4) outputs[4] = factory.createScalar<double>(static_cast<double>(e.getCauses().size()));
            }
        } else if (action == "escape") {
            engine->feval(name, 0, rest);
        } else if (action == "throw") {
            throw orb::cpp::Exception(name, orb::data::CharArray(rest.at(0)).toUTF8());
        } else if (action == "std") {
            throw std::runtime_error("a standard exception");
        } else if (action == "name") {
            outputs[0] = factory.createCharArray(getFunctionName());
        } else if (action == "lock") {
            lock();
        } else if (action == "unlock") {
            unlock();
        } else if (action == "async") {
            outputs[0] = engine->fevalAsync(name, 1, rest).get().at(0);
        } else if (action == "worker") {
            std::optional<orb::cpp::FutureResult<std::vector<orb::data::Array>>> started;
            std::thread([&] { started.emplace(engine->fevalAsync(name, 1, rest)); }).join();
            outputs[0] = started->get().at(0);
        } else if (action == "cancelled") {
            auto future = engine->fevalAsync(name, 0, rest);
            const bool cancelled = future.cancel();
            try {
                future.get();
                outputs[0] = factory.createCharArray(std::string("ran"));
            } catch (const orb::cpp::Exception& e) {
                outputs[0] = factory.createCharArray(e.getMessageID());
            }
            if (outputs.size() > 1) outputs[1] = factory.createScalar<bool>(cancelled);
        } else if (action == "eval") {
            auto printed = std::make_shared<orb::cpp::TextBuffer>();
            engine->evalAsync(orb::cpp::toUTF16(name), printed).get();
            outputs[0] = factory.createCharArray(printed->text);
        } else if (action == "later") {
            engine->evalAsync(orb::cpp::toUTF16(name));
        } else if (action == "getvar" || action == "getvarasync") {
            const std::string workspace = orb::data::CharArray(rest.at(0)).toUTF8();
            outputs[0] = action == "getvar" ? engine->getVariable(orb::cpp::toUTF16(name), workspace)
                                            : engine->getVariableAsync(orb::cpp::toUTF16(name), workspace).get();
        } else if (action == "setvar") {
            engine->setVariable(orb::cpp::toUTF16(name), rest.at(0), orb::data::CharArray(rest.at(1)).toUTF8());
        } else if (action == "getprop" || action == "getpropasync") {
            const auto index = static_cast<std::size_t>(orb::data::TypedArray<double>(rest.at(1))[0]);
            const auto property = orb::data::CharArray(rest.at(2)).toUTF16();
            outputs[0] = action == "getprop" ? engine->getProperty(rest.at(0), index, property)
                                             : engine->getPropertyAsync(rest.at(0), index, property).get();
        } else if (action == "setprop" || action == "setpropasync") {
            const auto index = static_cast<std::size_t>(orb::data::TypedArray<double>(rest.at(1))[0]);
            const auto property = orb::data::CharArray(rest.at(2)).toUTF16();
            outputs[0] = action == "setprop" ? engine->setProperty(rest.at(0), index, property, rest.at(3))
                                             : engine->setPropertyAsync(rest.at(0), index, property, rest.at(3)).get();
        } else {
            throw orb::cpp::Exception("probe:action", "unknown action '" + action + "'");
        }
    }

private:
    int m_calls = 0;
};

#include <orb_cpp/module_entry.hpp>
