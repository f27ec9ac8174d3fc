// tally: a C++ module that keeps a running tally in its function object.
//
//   tally(X)              adds the elements of X (any numeric array) to the tally; returns
//                         [count total] so far
//   tally('report')       the tally as the host's disp shows it, captured into a char array
//   tally('scaled', K)    the total scaled by K, computed by the scale example module
//
// The object is made when the module loads and destroyed when it is cleared, so the tally lives
// exactly as long as the module stays loaded.
#include <cstdio>
#include <string>

#include <orb_cpp.hpp>

class OrbFunction : public orb::cpp::Function {
public:
    ~OrbFunction() override {
        std::printf("tally: cleared after %d call%s (total %g)\n", m_calls, m_calls == 1 ? "" : "s", m_total);
        std::fflush(stdout);
    }

    void operator()(orb::cpp::ArgumentList outputs, orb::cpp::ArgumentList inputs) override {
        ++m_calls;
        if (inputs.size() == 0) throw orb::cpp::Exception("tally:usage", "Usage: tally(X), tally('report') or tally('scaled', K).");
        auto engine = getEngine();
        orb::data::ArrayFactory factory;

        if (inputs[0].getType() == orb::data::ArrayType::CHAR) {
            const std::string command = orb::data::CharArray(inputs[0]).toUTF8();
            const auto summary = factory.createArray<double>(1, 2, {static_cast<double>(m_count), m_total});
            if (command == "report") {
                auto captured = std::make_shared<orb::cpp::TextBuffer>();
                engine->feval("disp", 0, {summary}, captured);
                outputs[0] = factory.createCharArray(u"count and total: " + captured->text);
            } else if (command == "scaled" && inputs.size() == 2) {
                outputs[0] = engine->feval("scale", {factory.createScalar(m_total), inputs[1]});
            } else {
                throw orb::cpp::Exception("tally:unknownCommand", "Unknown command '" + command + "'.");
            }
            return;
        }

        if (inputs[0].getType() != orb::data::ArrayType::DOUBLE) {
            // Anything numeric is first converted by the host.
            inputs[0] = engine->feval("double", {inputs[0]});
        }
        const orb::data::TypedArray<double> values(inputs[0]);
        for (std::size_t i = 0; i < values.getNumberOfElements(); ++i) m_total += values[i];
        m_count += values.getNumberOfElements();
        outputs[0] = factory.createArray<double>(1, 2, {static_cast<double>(m_count), m_total});
    }

private:
    int m_calls = 0;
    std::size_t m_count = 0;
    double m_total = 0;
};

#include <orb_cpp/module_entry.hpp>
