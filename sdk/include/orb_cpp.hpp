// Everything a C++ module needs: data arrays, the Function base class, the engine proxy and the
// exceptions. The entry points come from orb_cpp/module_entry.hpp (see orb_cpp/function.hpp).
#pragma once

#include "orb_cpp/array.hpp"
#include "orb_cpp/engine.hpp"
#include "orb_cpp/exception.hpp"
#include "orb_cpp/function.hpp"
#include "orb_cpp/text.hpp"
