// A C++ module with a C gateway that lets a foreign exception escape, after setting an output:
// input 1 throws std::runtime_error, 2 a text, 3 an int.
#include <stdexcept>

#include <orb.h>

extern "C" __attribute__((visibility("default"))) void orbFunction(int, ryArray* plhs[], int nrhs,
                                                                   const ryArray* prhs[]) {
    plhs[0] = ryCreateDoubleScalar(1);
    switch (nrhs > 0 ? static_cast<int>(ryGetScalar(prhs[0])) : 0) {
        case 1: throw std::runtime_error("the standard one");
        case 2: throw "the text one";
        case 3: throw 3;
    }
}
