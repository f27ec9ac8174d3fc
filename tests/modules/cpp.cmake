# C++ modules: one on the bare protocol, one on the SDK.
orb_add_test_module(raw_protocol SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpp/raw_protocol.cpp LIBS orb VeltraDataArray)
orb_add_test_module(probe SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpp/probe.cpp LIBS orb VeltraDataArray)
# raw_protocol again, declaring itself safe on the host's thread pool in its manifest (appended
# after linking by the resource compiler).
orb_add_test_module(raw_protocol_safe SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpp/raw_protocol.cpp LIBS orb VeltraDataArray)
add_dependencies(raw_protocol_safe usResourceCompiler3)
add_custom_command(TARGET raw_protocol_safe POST_BUILD
  COMMAND $<TARGET_FILE:usResourceCompiler3> --manifest-add ${CMAKE_CURRENT_LIST_DIR}/cpp/manifest_threadpool_safe.json
          --bundle-name orbVersioning --bundle-file $<TARGET_FILE:raw_protocol_safe>
  VERBATIM)
