// What happens when the host loads this library, before any export can be called: the log
// channels come into existence, the install-relative paths are fixed, the thread-pool feature is
// registered and the data-array library is loaded.
//
// Every value lives in a function-local static of its own accessor, so this object only has to
// touch them; an accessor used by another static initialiser first simply creates its value
// earlier. Nothing here may throw: an exception out of a static initialiser would abort the
// library load, and none of these values is worth that.

#include "host/services.hpp"
#include "startup/data_array_library.hpp"
#include "startup/log_channels.hpp"
#include "startup/startup_values.hpp"
#include "startup/thread_pool_switch.hpp"

namespace orb::startup {
namespace {

class StaticRegistration {
public:
    StaticRegistration() noexcept {
        attempt([] {
            embedMetadataLog();
            inspectorLog();
            threadPoolSupportLog();
            retrieveVersionLog();
        });
        // A path that could not be formed now is formed again at its first use.
        attempt([] { manifestTemplatePath(); });
        attempt([] { resourceCompilerPath(); });
        attempt([] { host::svRegisterFeature(kThreadPoolFeatureName, 0, &setThreadPoolCppOrb, nullptr); });
        dataArrayLibrary();
    }

private:
    template <class Step>
    static void attempt(Step step) noexcept {
        try {
            step();
        } catch (...) {
        }
    }
};

const StaticRegistration g_staticRegistration;

}  // namespace
}  // namespace orb::startup
