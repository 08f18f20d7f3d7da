# Debian packages, built with CPack (see scripts/package):
#
#   libkestrel       the library, its udev rule, header, pkg-config file,
#                    CMake package, readertest and its man page
#   kestrel-vreader  the virtual reader and the software security module,
#                    with their man pages
#   kestreld         the local card service, its man page, systemd user unit
#                    and example configuration
#
# vreader has a package of its own because it needs umockdev (its library
# and the LD_PRELOAD library that fakes the USB bus), which has no business
# on a terminal with a real reader.  Header and tools stay with the library:
# readertest loads the unversioned libkestrel.so that is otherwise a
# development file.
set(CPACK_PACKAGE_NAME libkestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "libkestrel developers")
set(CPACK_PACKAGE_CONTACT "libkestrel developers <libkestrel@localhost>")
set(CPACK_PACKAGE_INSTALL_DIRECTORY kestrel)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX packages)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libkestrel)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# A shlibs file, so that dpkg-shlibdeps of packages built against the
# library finds "libkestrel (>= version)".
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
"access library for the USB HID smart-card reader of vendor 163C
libkestrel drives the reader through libusb-1.0 and gives host
applications, through a plain C ABI, its slots, the social-security card,
the PSAMs and the side modules.  The package holds the library, a udev
rule that opens the reader to the logged-in user, the header, pkg-config
and CMake files, and readertest.")

set(CPACK_DEBIAN_VREADER_PACKAGE_NAME kestrel-vreader)
set(CPACK_DEBIAN_VREADER_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_VREADER_PACKAGE_RECOMMENDS libkestrel)
set(CPACK_DEBIAN_VREADER_DESCRIPTION
"virtual card reader for libkestrel
vreader runs any program against a simulated USB card reader of vendor
163C on a bus faked by umockdev, so that host applications can be
developed and tested without hardware.  vreader-hsm answers the library's
requests to the host's hardware security module in software, with the
keys of the virtual reader's cards.")

# The local card service has a package of its own: it listens on the
# loopback interface, which a terminal whose host application loads the
# library itself does not need.
set(CPACK_DEBIAN_KESTRELD_PACKAGE_NAME kestreld)
set(CPACK_DEBIAN_KESTRELD_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_KESTRELD_DESCRIPTION
"local card service for browser-based host systems
kestreld owns the card reader and offers the operations of libkestrel as
JSON over HTTP on 127.0.0.1 and ::1, to host systems that run in a web
browser, with a demonstration page.  Only configured web origins get in;
operations that change the card are off unless enabled.")

# Dependencies: read from the binaries by dpkg-shlibdeps when it is there;
# the preload library that vreader puts under its child comes from the
# umockdev package, which no binary links.
find_program(KESTREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KESTREL_DPKG_SHLIBDEPS AND NOT CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_VREADER_PACKAGE_DEPENDS "umockdev")
else()
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, libusb-1.0-0")
  set(CPACK_DEBIAN_VREADER_PACKAGE_DEPENDS
      "libc6, libgcc-s1, libstdc++6, libglib2.0-0, libumockdev0, umockdev")
endif()
# dpkg-shlibdeps cannot see libkestrel.so.1 in the other package: kestreld
# names its dependencies itself.
set(CPACK_DEBIAN_KESTRELD_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_KESTRELD_PACKAGE_DEPENDS
    "libkestrel (= ${PROJECT_VERSION}), libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12), libmicrohttpd12 (>= 0.9.75)")
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  endif()
endif()

include(CPack)

cpack_add_component_group(library DISPLAY_NAME "libkestrel")
cpack_add_component_group(vreader DISPLAY_NAME "kestrel-vreader")
cpack_add_component_group(kestreld DISPLAY_NAME "kestreld")
cpack_add_component(runtime GROUP library)
cpack_add_component(udev GROUP library)
cpack_add_component(development GROUP library)
cpack_add_component(tools GROUP library)
cpack_add_component(vreader GROUP vreader)
cpack_add_component(kestreld GROUP kestreld)
