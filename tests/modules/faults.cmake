# Modules that fault inside their gateway (tests/loader, and the tool's shell tests): a null
# dereference, an integer division by zero, an illegal instruction, and unbounded recursion.
# They stand for code the runtime does not control, so they are never built with the sanitizers
# of a sanitizer build: their faults must reach the machine-fault guard as real signals.
set(_fault ${CMAKE_CURRENT_LIST_DIR}/faults/fault.c)
foreach(_kind null intdiv ill recursion)
  string(TOUPPER ${_kind} _define)
  orb_add_test_module(fault_${_kind} SOURCES ${_fault} DEFINES FAULT_${_define} LIBS orb vhost m OPTIONS -O1 -fno-sanitize=all)
endforeach()

# The fault-containment table (tests/faults): one module, one misbehaviour per input text.
orb_add_test_module(misbehave SOURCES ${CMAKE_CURRENT_LIST_DIR}/faults/misbehave.cpp LIBS orb vhost
  OPTIONS -O1 -fno-sanitize=all)

# The hostile table's modules whose code fails outside their gateway (faults/hostile.cpp). A
# shared library may name functions no library defines; the loader must refuse it cleanly.
foreach(_kind ctor_null ctor_throw ctor_undefined version_throw create_fault destroy_fault refused_fault dtor_fault
    fini_fault fini_hang)
  string(TOUPPER ${_kind} _define)
  orb_add_test_module(hostile_${_kind} SOURCES ${CMAKE_CURRENT_LIST_DIR}/faults/hostile.cpp DEFINES ${_define}
    LIBS orb vhost OPTIONS -O1 -fno-sanitize=all)
endforeach()
# The one that prints makes its text with the data-array library.
orb_add_test_module(hostile_stream_fault SOURCES ${CMAKE_CURRENT_LIST_DIR}/faults/hostile.cpp DEFINES STREAM_FAULT
  LIBS orb vhost VeltraDataArray OPTIONS -O1 -fno-sanitize=all)
