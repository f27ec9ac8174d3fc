# One build of the array probe per interface generation (tests/vhost_ry): the compatible
# interface, R2017b, R2018a, and no release given (which means R2018a).
set(_probe ${CMAKE_CURRENT_LIST_DIR}/vhost_ry/probe.c)
orb_add_test_module(vhost_ry_probe_700 SOURCES ${_probe} DEFINES RY_COMPAT_32 LIBS vhost)
orb_add_test_module(vhost_ry_probe_730 SOURCES ${_probe} DEFINES VELTRA_ORBCMD_RELEASE=R2017b LIBS vhost)
orb_add_test_module(vhost_ry_probe_800 SOURCES ${_probe} DEFINES VELTRA_ORBCMD_RELEASE=R2018a LIBS vhost)
orb_add_test_module(vhost_ry_probe_default SOURCES ${_probe} LIBS vhost)
# The interface-selection tests compile small sources themselves with the same C compiler.
file(WRITE ${ORB_TEST_MODULE_DIR}/vhost_ry_c_compiler.txt "${CMAKE_C_COMPILER}")
