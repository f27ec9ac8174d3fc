// How every tool reads its command line: Boost.Program_options does the reading, and a command
// line that cannot be read is one kind of error, UsageError, whatever the tool.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

namespace tools {

// A command line the user got wrong; the message says what, without the tool's name.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a command line is read against.
struct CommandLine {
    boost::program_options::options_description options;
    boost::program_options::positional_options_description positional;
    int style = boost::program_options::command_line_style::unix_style;
    // Reads first the tokens the GNU styles do not know (a compiler driver's -Wall, the arguments
    // after a command's target), as Boost.Program_options' extra style parser; empty when none.
    std::function<std::vector<boost::program_options::option>(std::vector<std::string>&)> extraStyle;
    // Options written with one dash although their name is long ("-Xlinker").
    std::set<std::string> singleDash;
    // The message for an unknown option (given as typed); empty: "unknown option 'OPTION'".
    std::function<std::string(const std::string&)> unknownOption;
    // What an option's missing value is, by the option's long name ("eval": "-e needs the
    // statements to run"); an option not listed is said to need a value.
    std::map<std::string, std::string> missingValue;
};

namespace detail {

// An option's name as the user writes it: Boost names every option "--NAME" in its errors.
inline std::string shownName(const CommandLine& line, std::string name) {
    if (name.starts_with("--")) name.erase(0, 2);
    if (name.starts_with("-")) return name;
    // An option with a one-letter form is named by it ("-e"), as its usage names it.
    if (const auto* option = line.options.find_nothrow(name, false)) {
        const std::string shortForm =
            option->canonical_display_name(boost::program_options::command_line_style::allow_dash_for_short);
        if (shortForm.size() == 2 && shortForm[0] == '-') return shortForm;
    }
    return (name.size() == 1 || line.singleDash.count(name) != 0 ? "-" : "--") + name;
}

// Runs `read`, turning what Boost.Program_options throws into UsageError.
template <typename Read>
auto readingAsUsage(const CommandLine& line, Read read) -> decltype(read()) {
    namespace po = boost::program_options;
    try {
        return read();
    } catch (const po::unknown_option& error) {
        if (line.unknownOption) throw UsageError(line.unknownOption(error.get_option_name()));
        throw UsageError("unknown option '" + error.get_option_name() + "'");
    } catch (const po::invalid_command_line_syntax& error) {
        if (error.kind() != po::invalid_syntax::missing_parameter) throw UsageError(error.what());
        std::string name = error.get_option_name();
        name.erase(0, name.find_first_not_of('-'));
        const auto said = line.missingValue.find(name);
        if (said != line.missingValue.end()) throw UsageError(said->second);
        throw UsageError("option " + shownName(line, error.get_option_name()) + " needs a value");
    } catch (const po::multiple_occurrences& error) {
        throw UsageError("give " + shownName(line, error.get_option_name()) + " only once");
    } catch (const po::too_many_positional_options_error&) {
        throw UsageError("too many arguments");
    } catch (const po::error& error) {
        throw UsageError(error.what());
    }
}

}  // namespace detail

// The options of `args` read against `line`, in the order given. Throws UsageError for what
// cannot be read: an unknown option, a missing value, an argument too many.
inline boost::program_options::parsed_options parseCommandLine(const std::vector<std::string>& args,
                                                               const CommandLine& line) {
    return detail::readingAsUsage(line, [&] {
        boost::program_options::command_line_parser parser(args);
        parser.options(line.options).positional(line.positional).style(line.style);
        if (line.extraStyle) parser.extra_style_parser(line.extraStyle);
        return parser.run();
    });
}

// The values of `args` read against `line`, with the options' notifiers run. Throws UsageError as
// parseCommandLine does, and for an option given twice that takes one value; what the notifiers
// throw passes through as it is.
inline boost::program_options::variables_map readCommandLine(const std::vector<std::string>& args,
                                                             const CommandLine& line) {
    const auto parsed = parseCommandLine(args, line);
    return detail::readingAsUsage(line, [&] {
        boost::program_options::variables_map values;
        boost::program_options::store(parsed, values);
        boost::program_options::notify(values);
        return values;
    });
}

}  // namespace tools
