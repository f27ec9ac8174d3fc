# Modules written in Fortran (tests/fortran), compiled by the Fortran compiler through the SDK's
# Fortran includes, and the modules of the thread-pool admission tests.
set(_fortran_dir ${CMAKE_CURRENT_LIST_DIR}/fortran)
set(_libs orb vhost)
# -cpp: the SDK includes choose the interface generation with the preprocessor.
set(_fortran_options -cpp -fPIC -Wno-unused-parameter)

# The same source for a 64-bit interface (800, the default) and for the 32-bit one (700).
orb_add_test_module(fortran_services SOURCES ${_fortran_dir}/fortran_services.F90 OPTIONS ${_fortran_options}
  LIBS ${_libs})
orb_add_test_module(fortran_services_700 SOURCES ${_fortran_dir}/fortran_services.F90 DEFINES RY_COMPAT_32
  OPTIONS ${_fortran_options} LIBS ${_libs})
orb_add_test_module(hello_fortran SOURCES ${CMAKE_SOURCE_DIR}/examples/hello_fortran.f90
  OPTIONS ${_fortran_options} LIBS ${_libs})
# A Fortran module that only the tasks-mode tests load.
orb_add_test_module(tasks_fortran SOURCES ${CMAKE_SOURCE_DIR}/examples/hello_fortran.f90
  OPTIONS ${_fortran_options} LIBS ${_libs})

orb_add_test_module(tasks_cpp SOURCES ${_fortran_dir}/tasks_shapes.c DEFINES CPP_SHAPE MARKER=tasks_cpp LIBS ${_libs})
orb_add_test_module(tasks_c SOURCES ${_fortran_dir}/tasks_shapes.c DEFINES MARKER=tasks_c LIBS ${_libs})
orb_add_test_module(tasks_longer_name SOURCES ${_fortran_dir}/tasks_shapes.c DEFINES LONGER_NAME
  MARKER=tasks_longer_name LIBS ${_libs})
# Never refused, never loaded outside tasks mode: shows that no admission check runs there.
orb_add_test_module(tasks_outside SOURCES ${_fortran_dir}/tasks_shapes.c DEFINES MARKER=tasks_outside LIBS ${_libs})
