# SPDX-License-Identifier: MIT
# Installation, the pkg-config file, the CMake package, the udev rule, the
# man pages, the API reference and the install test.  Included at the end
# of the top-level CMakeLists.txt, once every target exists.  The Debian
# packages are built from debian/ (scripts/package).
#
# Install components:
#   runtime      libkestrel.so.N (the shared library and its soname link)
#   udev         the udev rule that opens the reader to the desktop user
#   development  kestrel/kestrel.h, the libkestrel.so link, libkestrel.pc,
#                the CMake package kestrel::kestrel, and the API reference
#                (HTML and man3) when the docs target has been built
#   tools        readertest and its man page
#   vreader      vreader and vreader-hsm with their man pages
#   kestreld     the local card service, its man page, systemd user unit
#                and example configuration
# GNUInstallDirs picks the multiarch library directory (lib/<triplet>) for
# the prefix /usr only in native builds; a cross build names its triplet.
if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CMAKE_INSTALL_LIBDIR
   AND CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$")
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KESTREL_UDEV_RULES_DIR "/usr/lib/udev/rules.d" CACHE PATH
    "Where the udev rule goes (a relative path is taken under the install prefix)")

set(_kestrel_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_kestrel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kestrel)

# -- the library --------------------------------------------------------------
# libkestrel.so.1.0.0 with the soname libkestrel.so.1; the build tree keeps
# the unversioned libkestrel.so link that readertest loads.
set_target_properties(kestrel PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})

install(TARGETS kestrel EXPORT kestrelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          COMPONENT runtime NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrel)
install(FILES ${PROJECT_SOURCE_DIR}/include/kestrel.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrel COMPONENT development)

# CMake package: find_package(kestrel) gives kestrel::kestrel.  libusb is a
# private dependency of the shared library, so consumers need nothing else.
install(EXPORT kestrelTargets NAMESPACE kestrel::
  DESTINATION ${_kestrel_cmake_dir} COMPONENT development)
configure_package_config_file(${_kestrel_pkg}/kestrelConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/kestrelConfig.cmake
  INSTALL_DESTINATION ${_kestrel_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kestrelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestrelConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/kestrelConfigVersion.cmake
  DESTINATION ${_kestrel_cmake_dir} COMPONENT development)

# pkg-config file, written at install time so that its prefix is the one
# installed into (cmake --install --prefix, or the package's /usr).
install(CODE "set(KESTREL_PC_TEMPLATE [[${_kestrel_pkg}/libkestrel.pc.in]])
set(KESTREL_PC_WORK [[${CMAKE_CURRENT_BINARY_DIR}/libkestrel.pc]])
set(KESTREL_PC_LIBDIR [[${CMAKE_INSTALL_LIBDIR}]])
set(KESTREL_PC_INCLUDEDIR [[${CMAKE_INSTALL_INCLUDEDIR}]])
set(KESTREL_PC_VERSION [[${PROJECT_VERSION}]])" COMPONENT development)
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/KestrelWritePkgConfig.cmake COMPONENT development)

# -- udev rule ----------------------------------------------------------------
install(FILES ${_kestrel_pkg}/70-kestrel.rules
  DESTINATION ${KESTREL_UDEV_RULES_DIR} COMPONENT udev)

# -- tools and their man pages --------------------------------------------------
# Man pages are installed gzip-compressed, as distributions ship them.
set(_kestrel_man_outputs)
foreach(page readertest vreader vreader-hsm)
  set(_out ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/man/${page}.1 > ${_out}
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page}.1
    VERBATIM)
  list(APPEND _kestrel_man_outputs ${_out})
endforeach()
add_custom_target(kestrel_manpages ALL DEPENDS ${_kestrel_man_outputs})

# Everything that is installed, for builds that make only that
# (scripts/package).
add_custom_target(kestrel_installables)
add_dependencies(kestrel_installables kestrel kestrel_manpages)

if(TARGET readertest)
  install(TARGETS readertest RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/readertest.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  add_dependencies(kestrel_installables readertest)
endif()
# kestreld, the local card service, exists when its libraries were found:
# the program, its man page, the systemd user unit and an example
# configuration, in a package of its own.
if(TARGET kestreld)
  set(_out ${CMAKE_CURRENT_BINARY_DIR}/man/kestreld.8.gz)
  add_custom_command(OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/man/kestreld.8 > ${_out}
    DEPENDS ${PROJECT_SOURCE_DIR}/man/kestreld.8
    VERBATIM)
  add_custom_target(kestreld_manpage ALL DEPENDS ${_out})
  configure_file(${_kestrel_pkg}/kestreld.service.in ${CMAKE_CURRENT_BINARY_DIR}/kestreld.service @ONLY)
  install(TARGETS kestreld RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kestreld)
  install(FILES ${_out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT kestreld)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestreld.service
    DESTINATION lib/systemd/user COMPONENT kestreld)
  install(FILES ${_kestrel_pkg}/kestreld.conf
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestreld RENAME kestreld.conf.example COMPONENT kestreld)
  add_dependencies(kestrel_installables kestreld kestreld_manpage)
endif()
# vreader exists when the tests (or benchmarks) are built.  It needs
# umockdev's libraries at run time, so it has a package of its own.
if(TARGET vreader)
  install(TARGETS vreader RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT vreader)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/vreader.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT vreader)
  add_dependencies(kestrel_installables vreader)
endif()
if(TARGET vreader-hsm)
  install(TARGETS vreader-hsm RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT vreader)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/vreader-hsm.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT vreader)
  add_dependencies(kestrel_installables vreader-hsm)
endif()

# -- install test -----------------------------------------------------------------
set(_kestrel_consumer_flags "")
if(KESTREL_SANITIZE)
  set(_kestrel_consumer_flags "-fsanitize=address,undefined -fno-omit-frame-pointer")
endif()
# Installs into a temporary prefix and builds and runs a consumer program
# against the installed copy, with pkg-config and with find_package.
if(KESTREL_TESTS AND TARGET vreader AND (NOT KESTREL_TEST_AREAS OR "install" IN_LIST KESTREL_TEST_AREAS))
  if(CMAKE_CROSSCOMPILING)
    set(_kestrel_cross 1)
  else()
    set(_kestrel_cross 0)
  endif()
  add_test(NAME install_consumer
    COMMAND ${PROJECT_SOURCE_DIR}/tests/install/run.sh
            ${CMAKE_BINARY_DIR} ${CMAKE_C_COMPILER} "${_kestrel_consumer_flags}"
            ${_kestrel_cross} $<BOOL:${KESTREL_HARDENING}>)
  set_tests_properties(install_consumer PROPERTIES
    LABELS install TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()

# -- README example ---------------------------------------------------------------
# The README's host program, taken from the README, compiled and run under
# vreader against this build; its output must be the one the README shows.
if(KESTREL_TESTS AND TARGET vreader AND NOT CMAKE_CROSSCOMPILING
   AND (NOT KESTREL_TEST_AREAS OR "readme" IN_LIST KESTREL_TEST_AREAS))
  add_test(NAME readme_example
    COMMAND ${PROJECT_SOURCE_DIR}/tests/readme/example.sh
            ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${CMAKE_C_COMPILER} "${_kestrel_consumer_flags}")
  set_tests_properties(readme_example PROPERTIES LABELS readme TIMEOUT 120)
endif()

# -- Debian packages ----------------------------------------------------------------
# Builds the packages from debian/, runs lintian and installs them into a
# minimal Debian root where consumers built against libkestrel-dev run
# under the installed vreader (tests/packages/run.sh).  Only in the plain
# native build: the packages are built from the sources on their own, so
# a sanitizer build would only repeat it.  Skipped (77) when not root.
if(KESTREL_TESTS AND NOT CMAKE_CROSSCOMPILING AND NOT KESTREL_SANITIZE AND NOT KESTREL_SANITIZE_THREAD
   AND (NOT KESTREL_TEST_AREAS OR "packages" IN_LIST KESTREL_TEST_AREAS))
  add_test(NAME packages
    COMMAND ${PROJECT_SOURCE_DIR}/tests/packages/run.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/packages-test)
  set_tests_properties(packages PROPERTIES LABELS packages TIMEOUT 1800 SKIP_RETURN_CODE 77)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/KestrelDocs.cmake)
