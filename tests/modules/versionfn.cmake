# Modules exporting the version function in each spelling (tests/orbfile).
set(_vf ${CMAKE_CURRENT_LIST_DIR}/versionfn/versionfn.c)
orb_add_test_module(versionfn_all SOURCES ${_vf} DEFINES VF_LOWER VF_UPPER VF_UNDERSCORE)
orb_add_test_module(versionfn_upper_underscore SOURCES ${_vf} DEFINES VF_UPPER VF_UNDERSCORE)
orb_add_test_module(versionfn_underscore SOURCES ${_vf} DEFINES VF_UNDERSCORE)
orb_add_test_module(versionfn_silent SOURCES ${_vf} DEFINES VF_SILENT)
orb_add_test_module(versionfn_none SOURCES ${_vf})
