# SPDX-License-Identifier: MIT
# Hardening flags of the kind distributions build device libraries with:
# stack protector, _FORTIFY_SOURCE in optimised builds, and full RELRO with
# immediate binding.  None of them changes which symbols are exported.
#
#   -DKESTREL_HARDENING=OFF   leaves them out
option(KESTREL_HARDENING "Build with stack protector, _FORTIFY_SOURCE and full RELRO" ON)

if(KESTREL_HARDENING)
  add_compile_options(-fstack-protector-strong)

  # _FORTIFY_SOURCE needs optimisation (glibc warns without it, and the
  # warning is an error here).  Under the sanitizers it stays off: the
  # checked *_chk variants bypass their interceptors and hide the overruns
  # that AddressSanitizer would report.  The -U first avoids a redefinition
  # warning on compilers that already define it.
  if(NOT KESTREL_SANITIZE AND NOT KESTREL_SANITIZE_THREAD)
    set(_kestrel_optimised "$<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>")
    add_compile_options("$<${_kestrel_optimised}:-U_FORTIFY_SOURCE>"
                        "$<${_kestrel_optimised}:-D_FORTIFY_SOURCE=2>")
    unset(_kestrel_optimised)
  endif()

  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
