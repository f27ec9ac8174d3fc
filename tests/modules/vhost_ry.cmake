# The interface-selection tests (tests/vhost_ry) compile small sources themselves with the same C
# compiler.
file(WRITE ${ORB_TEST_MODULE_DIR}/vhost_ry_c_compiler.txt "${CMAKE_C_COMPILER}")
