// A C++ module written against the bare protocol (no SDK), to observe exactly what the runtime
// passes and how it treats each callback sequence.
//
// The first input (a double) picks what a call does:
//   0  hand back the other inputs as outputs
//   1  call the output callback twice: first with input 1, then with input 2
//   2  report an error without message or identifier
//   3  report the thread-mismatch identifier with a message of its own
//   4  hand back input 1, then report "raw:boom"
//   5  report an identifier without a message
// RAW_CREATE: "null" makes create return no object, "error" also reports "raw:create".
// RAW_DESTROY: "error" makes destroy report "raw:destroy".
#include <cstdlib>
#include <cstring>
#include <vector>

#include <orb_data.h>
#include <orb_cpp/services.h>

#define EXPORT extern "C" __attribute__((visibility("default")))

using ErrorCallback = void (*)(const char*, const char*);
using OutputCallback = void (*)(int, void**);

EXPORT int rawLastNlhs = -1, rawLastCapacity = -1, rawLastNrhs = -1, rawObjects = 0;

namespace {
struct Object {
    void* handle;
};
bool env(const char* name, const char* value) {
    const char* v = std::getenv(name);
    return v && std::strcmp(v, value) == 0;
}
}  // namespace

EXPORT void* orbCreateOrbFunction(ErrorCallback error) {
    if (env("RAW_CREATE", "null")) return nullptr;
    if (env("RAW_CREATE", "error")) {
        error("the object could not be made", "raw:create");
        return nullptr;
    }
    ++rawObjects;
    return new Object{orbGetFunctionImpl()};
}

EXPORT void orbDestroyOrbFunction(void* function, ErrorCallback error) {
    auto* object = static_cast<Object*>(function);
    orbDestroyFunctionImpl(object->handle);
    delete object;
    --rawObjects;
    if (env("RAW_DESTROY", "error")) error("the object failed to go", "raw:destroy");
}

EXPORT void orbFunctionAdapter(int nlhs, int capacity, int nrhs, void** prhs, void*, OutputCallback output,
                               ErrorCallback error) {
    rawLastNlhs = nlhs;
    rawLastCapacity = capacity;
    rawLastNrhs = nrhs;
    double mode = 0;
    if (nrhs > 0) orbDataGetElement(prhs[0], 0, &mode);
    switch (static_cast<int>(mode)) {
    case 0:
        output(nrhs - 1, prhs + 1);
        break;
    case 1:
        output(1, prhs + 1);
        output(1, prhs + 2);
        break;
    case 2:
        error("", "");
        break;
    case 3:
        error("a message of the module's own", "VELTRA:orb:CppOrbThreadMismatch");
        break;
    case 4:
        output(1, prhs + 1);
        error("boom", "raw:boom");
        break;
    case 5:
        error(nullptr, "raw:nomessage");
        break;
    }
}
