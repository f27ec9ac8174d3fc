# Modules for the loader and the call path (tests/loader); twice and the fault modules are also
# used by the tool's shell tests.
set(_shapes ${CMAKE_CURRENT_LIST_DIR}/loader/entry_shapes.c)
set(_libs orb vhost)
orb_add_test_module(twice SOURCES ${CMAKE_CURRENT_LIST_DIR}/loader/twice.c LIBS ${_libs})

orb_add_test_module(shape_c SOURCES ${_shapes} DEFINES C_ENTRY LIBS ${_libs})
orb_add_test_module(shape_cpp_and_c SOURCES ${_shapes} DEFINES C_ENTRY CPP_ADAPTER CPP_DESTROY LIBS ${_libs})
orb_add_test_module(shape_cpp_no_destroy SOURCES ${_shapes} DEFINES CPP_ADAPTER LIBS ${_libs})
orb_add_test_module(shape_fortran_both SOURCES ${_shapes} DEFINES FORTRAN_UPPER FORTRAN_LOWER LIBS ${_libs})
orb_add_test_module(shape_fortran_lower SOURCES ${_shapes} DEFINES FORTRAN_LOWER LIBS ${_libs})
orb_add_test_module(shape_fortran_wide SOURCES ${_shapes}
  DEFINES FORTRAN_LOWER FORTRAN_WIDE VERSION_REL=0x2017B VERSION_API=0x07300000 LIBS ${_libs})
orb_add_test_module(shape_c_interleaved SOURCES ${_shapes}
  DEFINES C_ENTRY VERSION_REL=0x2024B VERSION_API=0x08000000 LIBS ${_libs})
orb_add_test_module(shape_no_entry SOURCES ${_shapes} LIBS ${_libs})
# Declares an interface newer than any this release knows (and has no entry point).
orb_add_test_module(shape_newer_interface SOURCES ${_shapes}
  DEFINES VERSION_REL=0x2030A VERSION_API=0x09000000 LIBS ${_libs})

# Depends on a library that is not where the loader looks: no run path to its folder.
add_library(loader_dependency SHARED ${CMAKE_CURRENT_LIST_DIR}/loader/loader_dependency.c)
set_target_properties(loader_dependency PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/hidden_deps)
orb_add_test_module(shape_missing_dependency SOURCES ${_shapes} DEFINES C_ENTRY USE_DEPENDENCY
  LIBS ${_libs} loader_dependency)
set_target_properties(shape_missing_dependency PROPERTIES SKIP_BUILD_RPATH TRUE)

orb_add_test_module(nested_outer SOURCES ${CMAKE_CURRENT_LIST_DIR}/loader/nested.c DEFINES NESTED_OUTER LIBS ${_libs})
orb_add_test_module(nested_inner SOURCES ${CMAKE_CURRENT_LIST_DIR}/loader/nested.c LIBS ${_libs})
orb_add_test_module(alloc_many SOURCES ${CMAKE_CURRENT_LIST_DIR}/loader/alloc_many.c DEFINES ALLOC_COUNT=10000
  LIBS ${_libs})
orb_add_test_module(atexit_plain SOURCES ${CMAKE_CURRENT_LIST_DIR}/loader/atexit.c LIBS ${_libs})
orb_add_test_module(atexit_locked SOURCES ${CMAKE_CURRENT_LIST_DIR}/loader/atexit.c DEFINES ATEXIT_LOCK LIBS ${_libs})
orb_add_test_module(atexit_raises SOURCES ${CMAKE_CURRENT_LIST_DIR}/loader/atexit.c DEFINES ATEXIT_RAISES
  LIBS ${_libs})
orb_add_test_module(services SOURCES ${CMAKE_CURRENT_LIST_DIR}/loader/services.c
  DEFINES VELTRA_ORBCMD_RELEASE=R2017b LIBS ${_libs})
