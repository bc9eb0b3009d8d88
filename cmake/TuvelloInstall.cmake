# Install rules and the Debian package: the public header, the shared object
# with its soname links, the tool, a CMake package (tuvello::tuvello) and a
# pkg-config file. The 32-bit library and everything built for the tests stay
# in the build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TUVELLO_CMAKE_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/tuvello")
set(TUVELLO_PKGCONFIG_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

install(FILES "${PROJECT_SOURCE_DIR}/include/tuvello.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")

# In the build tree tuvello gets its header (and the internal sources) through
# tuvello_headers; an installed tuvello::tuvello carries the installed include
# directory instead, so that helper target stays out of the package.
get_target_property(_tuvello_links tuvello INTERFACE_LINK_LIBRARIES)
list(TRANSFORM _tuvello_links REPLACE "^tuvello_headers$" "$<BUILD_INTERFACE:tuvello_headers>")
set_target_properties(tuvello PROPERTIES INTERFACE_LINK_LIBRARIES "${_tuvello_links}")

# libtuvello.so.1.0.0, libtuvello.so.1 and the libtuvello.so link for linking.
install(TARGETS tuvello EXPORT tuvelloTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")

# The tool lives in cli/ and is only there when it is built.
if(TARGET tuvello_cli)
  install(TARGETS tuvello_cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

install(EXPORT tuvelloTargets
  NAMESPACE tuvello::
  FILE tuvelloTargets.cmake
  DESTINATION "${TUVELLO_CMAKE_PACKAGE_DIR}")
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/tuvelloConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/tuvelloConfig.cmake"
  INSTALL_DESTINATION "${TUVELLO_CMAKE_PACKAGE_DIR}")
# A new major version may change the interface; the pointer size must match.
write_basic_package_version_file("${PROJECT_BINARY_DIR}/tuvelloConfigVersion.cmake"
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/tuvelloConfig.cmake"
              "${PROJECT_BINARY_DIR}/tuvelloConfigVersion.cmake"
        DESTINATION "${TUVELLO_CMAKE_PACKAGE_DIR}")

# tuvello.pc finds its prefix from its own location, so an installed tree (or
# an unpacked Debian package) can be moved. Absolute install directories
# cannot move with the prefix and are written as they are.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(TUVELLO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(TUVELLO_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(TUVELLO_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH _tuvello_pc_up "/prefix/${TUVELLO_PKGCONFIG_DIR}" "/prefix")
  string(REGEX REPLACE "/$" "" _tuvello_pc_up "${_tuvello_pc_up}")
  set(TUVELLO_PC_PREFIX "\${pcfiledir}/${_tuvello_pc_up}")
  set(TUVELLO_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(TUVELLO_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/tuvello.pc.in" "${PROJECT_BINARY_DIR}/tuvello.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/tuvello.pc" DESTINATION "${TUVELLO_PKGCONFIG_DIR}")

# cpack -G DEB: one package with the same files under /usr. A parent project
# that includes tuvello packages itself.
if(PROJECT_IS_TOP_LEVEL)
  set(CPACK_PACKAGE_NAME tuvello)
  set(CPACK_PACKAGE_VENDOR "tuvello developers")
  set(CPACK_PACKAGE_CONTACT "tuvello developers")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "song text to RIFF/WAVE images")
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "tuvello turns one line of song text such as 'len:200;vol:80;c;e;g;p;c'\n"
    "into a complete 16-bit mono PCM WAV file in memory, behind a plain C\n"
    "interface. This package holds the shared library, its header, the CMake\n"
    "and pkg-config files and the tuvello command-line tool.")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tuvello developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # The shared object needs only libc.so.6 and libm.so.6, both from libc6; the
  # tool, a C++ program, also needs libstdc++ and libgcc. dpkg-shlibdeps
  # (dpkg-dev) works out the exact versions from the files packaged.
  find_program(TUVELLO_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(TUVELLO_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  elseif(TARGET tuvello_cli)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
  endif()
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_GENERATOR DEB)
  include(CPack)
endif()
