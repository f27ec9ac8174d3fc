# Modules for the bundle reader and version retrieval (tests/bundle, tests/retrieve). The tests
# attach most manifests themselves at run time (appended, as an ELF section, written by other zip
# writers); the two placements that belong to the build are made here.
set(_bm ${CMAKE_CURRENT_LIST_DIR}/bundle/bundle_module.c)
set(_bundle_manifest ${CMAKE_CURRENT_LIST_DIR}/bundle/manifest_r2024b.json)

# A version function and a load trace, no manifest: the base the tests attach manifests to.
orb_add_test_module(bundle_plain SOURCES ${_bm} DEFINES BUNDLE_VERSION_FUNCTION BUNDLE_TRACE=ORB_BUNDLE_TRACE_PLAIN)
# Loadable, but declares no release.
orb_add_test_module(bundle_noversion SOURCES ${_bm})

# The manifest appended after linking by the resource compiler, as the build tool does.
orb_add_test_module(bundle_appended SOURCES ${_bm}
  DEFINES BUNDLE_VERSION_FUNCTION BUNDLE_TRACE=ORB_BUNDLE_TRACE_APPENDED)
add_dependencies(bundle_appended usResourceCompiler3)
add_custom_command(TARGET bundle_appended POST_BUILD
  COMMAND $<TARGET_FILE:usResourceCompiler3> --manifest-add ${_bundle_manifest} --bundle-name orbVersioning
          --bundle-file $<TARGET_FILE:bundle_appended>
  VERBATIM)

# The bundle zip linked in as plain data.
set(_bundle_zip ${CMAKE_CURRENT_BINARY_DIR}/bundle_linked_manifest.zip)
add_custom_command(OUTPUT ${_bundle_zip}
  COMMAND $<TARGET_FILE:usResourceCompiler3> --manifest-add ${_bundle_manifest} --bundle-name orbVersioning
          --out-file ${_bundle_zip}
  DEPENDS usResourceCompiler3 ${_bundle_manifest}
  VERBATIM)
add_custom_target(bundle_linked_zip DEPENDS ${_bundle_zip})
orb_add_test_module(bundle_linked SOURCES ${_bm}
  DEFINES BUNDLE_VERSION_FUNCTION BUNDLE_TRACE=ORB_BUNDLE_TRACE_LINKED)
add_dependencies(bundle_linked bundle_linked_zip)
# The data input carries no stack note; say explicitly that the stack is not executable.
target_link_options(bundle_linked PRIVATE -Wl,--format=binary -Wl,${_bundle_zip} -Wl,--format=default
  -Wl,-z,noexecstack)
set_property(TARGET bundle_linked APPEND PROPERTY LINK_DEPENDS ${_bundle_zip})
