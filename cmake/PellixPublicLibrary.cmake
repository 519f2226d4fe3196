# One shape for each public shared library of Pellix (libpellix, libpellixcontrol, libpellixqt):
# the include folder for builders and installers, the version, the names its version script
# exports (<target>.map beside it), every symbol resolved at link time, and its installed header,
# CMake package (<Package>Config.cmake.in beside it) and relocatable pkg-config file
# (<target>.pc.in beside it).
#
#   pellix_public_library(<target> HEADER <file in include/pellix> PACKAGE <Package>)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

function(pellix_public_library target)
  cmake_parse_arguments(PL "" "HEADER;PACKAGE" "" ${ARGN})
  if(NOT PL_HEADER OR NOT PL_PACKAGE)
    message(FATAL_ERROR "pellix_public_library(${target}): HEADER and PACKAGE are needed")
  endif()
  set(map ${CMAKE_CURRENT_SOURCE_DIR}/${target}.map)
  set(packageDir ${CMAKE_INSTALL_LIBDIR}/cmake/${PL_PACKAGE})

  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:include>)
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    LINK_DEPENDS ${map})
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  # The clang sanitizer runtime of the fuzz build is linked into the programs only, so that build
  # lets the libraries leave it to them.
  if(NOT PELLIX_FUZZ)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()

  install(TARGETS ${target} EXPORT ${PL_PACKAGE}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/include/pellix/${PL_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pellix)
  install(EXPORT ${PL_PACKAGE}Targets NAMESPACE Pellix:: DESTINATION ${packageDir})
  configure_package_config_file(${PL_PACKAGE}Config.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/${PL_PACKAGE}Config.cmake
    INSTALL_DESTINATION ${packageDir})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${PL_PACKAGE}ConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${PL_PACKAGE}Config.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/${PL_PACKAGE}ConfigVersion.cmake
    DESTINATION ${packageDir})
  # The way from the pkg-config folder up to the prefix ("../.."), whatever prefix is installed to.
  file(RELATIVE_PATH PELLIX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  configure_file(${target}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${target}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
