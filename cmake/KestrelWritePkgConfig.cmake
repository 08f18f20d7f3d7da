# SPDX-License-Identifier: MIT
# Install-time script: writes libkestrel.pc for the prefix being installed
# into.  The KESTREL_PC_* variables come from the install code before it.
if(IS_ABSOLUTE "${KESTREL_PC_LIBDIR}")
  set(libdir "${KESTREL_PC_LIBDIR}")
else()
  set(libdir "\${prefix}/${KESTREL_PC_LIBDIR}")
endif()
if(IS_ABSOLUTE "${KESTREL_PC_INCLUDEDIR}")
  set(includedir "${KESTREL_PC_INCLUDEDIR}")
else()
  set(includedir "\${prefix}/${KESTREL_PC_INCLUDEDIR}")
endif()
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(version "${KESTREL_PC_VERSION}")
configure_file("${KESTREL_PC_TEMPLATE}" "${KESTREL_PC_WORK}" @ONLY)

if(IS_ABSOLUTE "${KESTREL_PC_LIBDIR}")
  set(_pcdir "${KESTREL_PC_LIBDIR}/pkgconfig")
else()
  set(_pcdir "${CMAKE_INSTALL_PREFIX}/${KESTREL_PC_LIBDIR}/pkgconfig")
endif()
file(INSTALL DESTINATION "${_pcdir}" TYPE FILE FILES "${KESTREL_PC_WORK}")
