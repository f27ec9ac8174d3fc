# Modules that fault inside their gateway (tests/loader, and the tool's shell tests): a null
# dereference, an integer division by zero, an illegal instruction, and unbounded recursion.
set(_fault ${CMAKE_CURRENT_LIST_DIR}/faults/fault.c)
foreach(_kind null intdiv ill recursion)
  string(TOUPPER ${_kind} _define)
  orb_add_test_module(fault_${_kind} SOURCES ${_fault} DEFINES FAULT_${_define} LIBS orb vhost m OPTIONS -O1)
endforeach()
