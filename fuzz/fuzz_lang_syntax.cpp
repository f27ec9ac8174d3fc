// The host language's parser over arbitrary text: statements and single expressions. Bad text
// must end in the host's "VELTRA:parse" error; a crash, a stack overflow or another exception is
// a finding.
#include <cstdlib>
#include <string_view>

#include "host/exceptions.hpp"
#include "vhost/lang/syntax.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    for (int form = 0; form < 2; ++form) {
        try {
            if (form == 0) {
                (void)vhost::lang::parseStatements(source);
            } else {
                (void)vhost::lang::parseExpression(source);
            }
        } catch (const host::UserException& error) {
            if (error.identifier() != "VELTRA:parse") std::abort();
        }
    }
    return 0;
}
