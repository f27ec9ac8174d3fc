# C++ modules: one on the bare protocol, one on the SDK.
orb_add_test_module(raw_protocol SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpp/raw_protocol.cpp LIBS orb VeltraDataArray)
orb_add_test_module(probe SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpp/probe.cpp LIBS orb VeltraDataArray)
# Leaves asynchronous requests behind: a faulting callback at idle time, requests outstanding
# when it is cleared, and a call that holds the engine while a thread of its own waits. Without
# unique symbols, so that clearing it really unmaps its code (the system loader keeps a library
# with unique symbols mapped for good).
orb_add_test_module(stray SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpp/stray.cpp LIBS orb VeltraDataArray
  OPTIONS -fno-sanitize=all -fno-gnu-unique)
