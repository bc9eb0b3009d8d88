# SPDX-License-Identifier: MIT
# Install rules and the Debian packages. Every file belongs to one component,
# and each component is one Debian package:
#
#   library  libtuvello1      the shared object and its soname link
#   dev      libtuvello-dev   header, libtuvello.so link, libtuvello.a, CMake
#                             package (tuvello::tuvello, tuvello::tuvello_static),
#                             tuvello.pc
#   tool     tuvello          the tool, its man page and bash completion
#   python   python3-tuvello  the Python module
#
# The 32-bit library and everything built for the tests stay in the build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TUVELLO_CMAKE_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/tuvello")
set(TUVELLO_PKGCONFIG_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
# Where the Python module goes, relative to the prefix. Empty: where the
# Python found now imports packages from under the prefix of the install
# (cmake/TuvelloInstallPython.cmake.in): lib/python3/dist-packages for /usr on
# Debian, lib/python3.X/site-packages for ~/.local, and so on.
set(_tuvello_python_help "Where the Python module is installed, relative to the prefix (empty: ask the Python at install time)")
# A build tree configured before kept the old fixed default in its cache.
get_property(_tuvello_python_help_was CACHE TUVELLO_PYTHON_INSTALL_DIR PROPERTY HELPSTRING)
if(_tuvello_python_help_was STREQUAL "Where the Python module is installed, relative to the prefix"
   AND TUVELLO_PYTHON_INSTALL_DIR STREQUAL "lib/python3/dist-packages")
  set(TUVELLO_PYTHON_INSTALL_DIR "" CACHE STRING "${_tuvello_python_help}" FORCE)
endif()
set(TUVELLO_PYTHON_INSTALL_DIR "" CACHE STRING "${_tuvello_python_help}")
find_package(Python3 COMPONENTS Interpreter QUIET)

install(FILES "${PROJECT_SOURCE_DIR}/include/tuvello.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" COMPONENT dev)

# In the build tree tuvello gets its header (and the internal sources) through
# tuvello_headers; an installed tuvello::tuvello carries the installed include
# directory instead, so that helper target stays out of the package.
get_target_property(_tuvello_links tuvello INTERFACE_LINK_LIBRARIES)
list(TRANSFORM _tuvello_links REPLACE "^tuvello_headers$" "$<BUILD_INTERFACE:tuvello_headers>")
set_target_properties(tuvello PROPERTIES INTERFACE_LINK_LIBRARIES "${_tuvello_links}")

# libtuvello.so.X.Y.Z and libtuvello.so.1 for the library package; the
# libtuvello.so link and libtuvello.a are for linking only.
install(TARGETS tuvello tuvello_static EXPORT tuvelloTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT library NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT dev
  INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")

install(EXPORT tuvelloTargets
  NAMESPACE tuvello::
  FILE tuvelloTargets.cmake
  DESTINATION "${TUVELLO_CMAKE_PACKAGE_DIR}"
  COMPONENT dev)
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/tuvelloConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/tuvelloConfig.cmake"
  INSTALL_DESTINATION "${TUVELLO_CMAKE_PACKAGE_DIR}")
# A new major version may change the interface; the pointer size must match.
write_basic_package_version_file("${PROJECT_BINARY_DIR}/tuvelloConfigVersion.cmake"
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/tuvelloConfig.cmake"
              "${PROJECT_BINARY_DIR}/tuvelloConfigVersion.cmake"
        DESTINATION "${TUVELLO_CMAKE_PACKAGE_DIR}"
        COMPONENT dev)

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
install(FILES "${PROJECT_BINARY_DIR}/tuvello.pc" DESTINATION "${TUVELLO_PKGCONFIG_DIR}" COMPONENT dev)

# The tool (with its man page and completion, see cli/) lives in cli/ and is
# only there when it is built.
if(TARGET tuvello_cli)
  install(TARGETS tuvello_cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT tool)
  if(TUVELLO_MAN_PAGE)
    install(FILES "${TUVELLO_MAN_PAGE}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT tool)
  endif()
  install(FILES "${PROJECT_SOURCE_DIR}/cli/tuvello.bash-completion"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions"
          RENAME tuvello COMPONENT tool)
endif()

# The Python module, with its version read from the header like everything
# else; its directory is settled at install time, for the prefix then given.
set(TUVELLO_PYTHON_FILES "")
foreach(name __init__.py _convert.py _files.py _loading.py _native.py _signals.py _songfile.py py.typed)
  string(APPEND TUVELLO_PYTHON_FILES " \"${PROJECT_SOURCE_DIR}/python/tuvello/${name}\"")
endforeach()
configure_file("${CMAKE_CURRENT_LIST_DIR}/TuvelloInstallPython.cmake.in"
               "${PROJECT_BINARY_DIR}/python/TuvelloInstallPython.cmake" @ONLY)
install(SCRIPT "${PROJECT_BINARY_DIR}/python/TuvelloInstallPython.cmake" COMPONENT python)

# Uninstall: removes what the last `cmake --install` of this build tree
# installed, as its install_manifest.txt lists it.
add_custom_target(uninstall
  COMMAND "${CMAKE_COMMAND}" -D "MANIFEST=${PROJECT_BINARY_DIR}/install_manifest.txt"
          -P "${CMAKE_CURRENT_LIST_DIR}/TuvelloUninstall.cmake"
  VERBATIM)

if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()

# ---- cpack -G DEB: one package per component ------------------------------
# Configure with -DCMAKE_INSTALL_PREFIX=/usr so that the library goes to
# Debian's multiarch directory (/usr/lib/x86_64-linux-gnu on amd64).
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Debian packages: configure with -DCMAKE_INSTALL_PREFIX=/usr for Debian's paths")
endif()

# A 32-bit x86 build (cmake/i386-linux-gnu.cmake) makes the i386 library
# packages only; the tool and the Python module come from the 64-bit build.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
  set(_tuvello_packages library dev)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
else()
  set(_tuvello_packages library dev python)
  if(TARGET tuvello_cli)
    list(APPEND _tuvello_packages tool)
  endif()
endif()
set(_tuvello_deb_library libtuvello1)
set(_tuvello_deb_dev libtuvello-dev)
set(_tuvello_deb_tool tuvello)
set(_tuvello_deb_python python3-tuvello)

# Each package carries the copyright and a changelog in its documentation
# directory. These are only installed with one component, as cpack does; a
# plain `cmake --install` leaves them out.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP TUVELLO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
else()
  string(TIMESTAMP TUVELLO_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in" "${PROJECT_BINARY_DIR}/debian/changelog" @ONLY)
find_program(TUVELLO_GZIP gzip REQUIRED)
execute_process(COMMAND "${TUVELLO_GZIP}" -9nf "${PROJECT_BINARY_DIR}/debian/changelog" COMMAND_ERROR_IS_FATAL ANY)
foreach(component IN LISTS _tuvello_packages)
  install(FILES "${CMAKE_CURRENT_LIST_DIR}/debian/copyright" "${PROJECT_BINARY_DIR}/debian/changelog.gz"
          DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${_tuvello_deb_${component}}"
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_PACKAGE_NAME tuvello)
set(CPACK_PACKAGE_VENDOR "the tuvello authors")
set(CPACK_PACKAGE_CONTACT "tuvello authors <tuvello@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# CPackDeb puts a summary of its own above each package's description unless
# it is left at CPack's default; each description below starts with its own.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tuvello authors <tuvello@example.org>")
set(CPACK_DEBIAN_PACKAGE_SOURCE tuvello)
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${_tuvello_packages})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# What the binaries need, from dpkg-shlibdeps (dpkg-dev): libc6 for the
# library; libc6, libstdc++6, libgcc-s1 (and whatever else the tool links)
# for the tool.
find_program(TUVELLO_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TUVELLO_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(STATUS "dpkg-shlibdeps not found (dpkg-dev): Debian packages declare fixed dependencies")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "libc6")
  set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()

string(CONCAT _tuvello_about
  "tuvello turns one line of song text, notes and settings such as len:200\n"
  "or vol:80, into a complete 16-bit mono PCM WAV file in memory, behind a\n"
  "plain C interface.\n\n")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libtuvello1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
string(CONCAT CPACK_DEBIAN_LIBRARY_DESCRIPTION "render song texts to RIFF/WAVE images - shared library\n"
  "${_tuvello_about}" "This package holds the shared library.")
# shlibs: packages linking libtuvello.so.1 depend on this version or later.
# Only the library package holds a shared object.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/debian/triggers")

# Both library packages are Multi-Arch: same (libtuvello1:i386 beside libtuvello1).
set(CPACK_POST_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/debian/multiarch.cmake")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtuvello-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libtuvello1 (= ${PROJECT_VERSION})")
string(CONCAT CPACK_DEBIAN_DEV_DESCRIPTION "render song texts to RIFF/WAVE images - development files\n"
  "${_tuvello_about}" "This package holds the header, the static library and the CMake and\n"
  "pkg-config files for building programs with tuvello.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tuvello)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION sound)
string(CONCAT CPACK_DEBIAN_TOOL_DESCRIPTION "render song texts to RIFF/WAVE images - command-line tool\n"
  "${_tuvello_about}" "This package holds the tuvello tool, which renders song texts to WAV\n"
  "files and reports commands that do not do what they seem to.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tuvello)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
# The module loads libtuvello.so.1 by its soname with ctypes.
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, libtuvello1 (>= ${PROJECT_VERSION})")
string(CONCAT CPACK_DEBIAN_PYTHON_DESCRIPTION "render song texts to RIFF/WAVE images - Python 3 module\n"
  "${_tuvello_about}" "This package holds the Python 3 module, which renders song texts to WAV\n"
  "images through the shared library.")
# As Debian's own Python packages: postinst byte-compiles the module, prerm
# removes all bytecode beside it, so that a purge leaves no __pycache__.
# (CPack takes the scripts' names from their files.)
foreach(script postinst prerm)
  configure_file("${CMAKE_CURRENT_LIST_DIR}/debian/python3-tuvello.${script}"
                 "${PROJECT_BINARY_DIR}/debian/python3-tuvello/${script}" COPYONLY)
  list(APPEND CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA "${PROJECT_BINARY_DIR}/debian/python3-tuvello/${script}")
endforeach()
# Maintainer scripts 0755, other control files 0644, whatever the checkout's modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
