# SPDX-License-Identifier: MIT
# Run by cpack after it made the packages: marks the library and development
# packages "Multi-Arch: same", so that the i386 and amd64 builds install side
# by side (every file they share is identical; the rest lies under
# /usr/lib/<multiarch>). CPack has no setting for this field. An i386 build
# made by the multilib toolchain links /usr/lib32's C library, which
# dpkg-shlibdeps attributes to libc6-i386 (the amd64 package holding it);
# installed on i386 the same symbols come from libc6, at the same versions.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  if(NOT name MATCHES "^libtuvello(1|-dev)_")
    continue()
  endif()
  set(tree "${package}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(READ "${tree}/DEBIAN/control" control)
  string(REGEX REPLACE "(^|\n)(Architecture: [^\n]*\n)" "\\1\\2Multi-Arch: same\n" control "${control}")
  if(control MATCHES "(^|\n)Architecture: i386\n")
    string(REGEX REPLACE "libc6-i386( |,|\n)" "libc6\\1" control "${control}")
  endif()
  file(WRITE "${tree}/DEBIAN/control" "${control}")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${tree}" "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
