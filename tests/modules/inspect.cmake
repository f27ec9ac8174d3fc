# Modules for the inspector (tests/inspect): one per interface generation, with and without the
# version function, C, C++ and Fortran entry points, and imports mixing generations. They link
# against libvhost, which exports the versioned array interface; names nothing exports stay
# undefined, which a shared library may do until it is loaded.
set(_in ${CMAKE_CURRENT_LIST_DIR}/inspect)
set(_rel VF_REL=0x2024B)

orb_add_test_module(inspect_c700 SOURCES ${_in}/c_module.c DEFINES RY_COMPAT_32 LIBS vhost)
orb_add_test_module(inspect_c700_vf SOURCES ${_in}/c_module.c LIBS vhost
                    DEFINES RY_COMPAT_32 WITH_VF ${_rel} VF_API=0x07000000)
orb_add_test_module(inspect_c730 SOURCES ${_in}/c_module.c DEFINES VELTRA_ORBCMD_RELEASE=R2017b LIBS vhost)
orb_add_test_module(inspect_c730_vf SOURCES ${_in}/c_module.c LIBS vhost
                    DEFINES VELTRA_ORBCMD_RELEASE=R2017b WITH_VF ${_rel} VF_API=0x07300000)
orb_add_test_module(inspect_c800_vf SOURCES ${_in}/c_module.c LIBS vhost
                    DEFINES VELTRA_ORBCMD_RELEASE=R2018a WITH_VF ${_rel} VF_API=0x08000000)
orb_add_test_module(inspect_c800_novf SOURCES ${_in}/c_module.c LIBS vhost)
# Version functions that contradict the imports, state no interface, or name a future one.
orb_add_test_module(inspect_c800_vf_default SOURCES ${_in}/c_module.c LIBS vhost DEFINES WITH_VF ${_rel} VF_API=0)
orb_add_test_module(inspect_c800_vf730 SOURCES ${_in}/c_module.c LIBS vhost
                    DEFINES WITH_VF ${_rel} VF_API=0x07300000)
orb_add_test_module(inspect_c730_vf800 SOURCES ${_in}/c_module.c LIBS vhost
                    DEFINES VELTRA_ORBCMD_RELEASE=R2017b WITH_VF ${_rel} VF_API=0x08000000)
orb_add_test_module(inspect_c800_vf_future SOURCES ${_in}/c_module.c LIBS vhost
                    DEFINES WITH_VF VF_REL=0x2025A VF_API=0x09000000)
# Imports of two generations at once.
orb_add_test_module(inspect_mixed_700_800 SOURCES ${_in}/mixed.c DEFINES MIX_700_800 LIBS vhost)
orb_add_test_module(inspect_mixed_730_800 SOURCES ${_in}/mixed.c DEFINES MIX_730_800 LIBS vhost)
orb_add_test_module(inspect_mixed_700_730 SOURCES ${_in}/mixed.c DEFINES MIX_700_730 LIBS vhost)
orb_add_test_module(inspect_no_entry SOURCES ${_in}/no_entry.c LIBS vhost)
orb_add_test_module(inspect_namespaced SOURCES ${_in}/namespaced.cpp)
orb_add_test_module(inspect_cpp SOURCES ${_in}/cpp_module.cpp)
orb_add_test_module(inspect_cpp_700 SOURCES ${_in}/cpp_module.cpp DEFINES WITH_700 LIBS vhost)
orb_add_test_module(inspect_fortran SOURCES ${_in}/fortran_module.f90 OPTIONS -cpp)
orb_add_test_module(inspect_fortran_vf SOURCES ${_in}/fortran_module.f90 DEFINES WITH_VF OPTIONS -cpp)
# The version carried by an embedded manifest, appended by the resource compiler as the build
# tool does. Their version functions state 730, which would contradict the imports: the manifest
# is read first, so they are never run.
foreach(_api 800 700)
  set(_m inspect_c800_manifest${_api})
  orb_add_test_module(${_m} SOURCES ${_in}/c_module.c LIBS vhost DEFINES WITH_VF ${_rel} VF_API=0x07300000)
  add_dependencies(${_m} usResourceCompiler3)
  add_custom_command(TARGET ${_m} POST_BUILD
    COMMAND $<TARGET_FILE:usResourceCompiler3> --manifest-add ${_in}/manifest_${_api}.json
            --bundle-name orbVersioning --bundle-file $<TARGET_FILE:${_m}>
    VERBATIM)
endforeach()
# A Fortran entry point exported without its trailing underscore: a name no loader accepts.
orb_add_test_module(inspect_fortran_no_underscore SOURCES ${_in}/fortran_module.f90 OPTIONS -cpp -fno-underscoring)
