# C++ modules: one on the bare protocol, one on the SDK.
orb_add_test_module(raw_protocol SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpp/raw_protocol.cpp LIBS orb VeltraDataArray)
orb_add_test_module(probe SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpp/probe.cpp LIBS orb VeltraDataArray)
