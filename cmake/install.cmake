# The installation: `cmake --install BUILD --prefix PREFIX` lays out the same tree as the staged
# root (build/stage/), plus lib/cmake/orb/, the package that module projects find with
# find_package(orb).
include(CMakePackageConfigHelpers)

install(TARGETS orb vhost VeltraDataArray LIBRARY DESTINATION lib)
install(TARGETS orb_tool RUNTIME DESTINATION bin)
install(TARGETS usResourceCompiler3 RUNTIME DESTINATION bin/linux64)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/sdk/include/ DESTINATION include)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/ DESTINATION resources)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/extern/ DESTINATION extern)

# The package describes the installed module-facing libraries as imported targets (see
# orbConfig.cmake.in) rather than exporting the build's own targets: those carry the runtime's
# internal include folders and Boost, which a module never sees.
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/orbConfig.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/orbConfig.cmake INSTALL_DESTINATION lib/cmake/orb)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/orbConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/orbConfig.cmake ${CMAKE_BINARY_DIR}/cmake/orbConfigVersion.cmake
  DESTINATION lib/cmake/orb)
