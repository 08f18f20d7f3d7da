# SPDX-License-Identifier: MIT
# Run after Doxygen by the docs target (cmake -DDOCS_DIR=... -P).
#
# HTML: the pages are plain static HTML (no dynamic menus, sections or
# search), so the bundled jQuery and the scripts that need it are dropped
# together with the lines that load them.
#
# Man pages: Doxygen writes a link page (".so man3/<page>.3") for every
# member it documents, struct fields included; only the exported names
# (functions, variables, macros, types) keep theirs, so that no field name
# such as "length" lands in man3.  Every page is gzip-compressed.
file(GLOB _pages ${DOCS_DIR}/html/*.html)
foreach(_page ${_pages})
  file(READ ${_page} _text)
  string(REGEX REPLACE "<script type=\"text/javascript\" src=\"(jquery|dynsections|menudata|menu)\\.js\"></script>\n?"
         "" _text "${_text}")
  file(WRITE ${_page} "${_text}")
endforeach()
file(REMOVE ${DOCS_DIR}/html/jquery.js ${DOCS_DIR}/html/dynsections.js
            ${DOCS_DIR}/html/menudata.js ${DOCS_DIR}/html/menu.js)

set(_man ${DOCS_DIR}/man/man3)
file(GLOB _pages ${_man}/*.3)
foreach(_page ${_pages})
  file(SIZE ${_page} _size)
  if(_size GREATER 200)
    continue()
  endif()
  file(READ ${_page} _text)
  # A link page into the page of a struct: the member is a field.
  if(_text MATCHES "^\\.so man3/([A-Za-z0-9_]+)\\.3")
    set(_target ${_man}/${CMAKE_MATCH_1}.3)
    if(EXISTS ${_target})
      file(STRINGS ${_target} _fields REGEX "^\\.SS \"Data Fields\"")
      if(_fields)
        file(REMOVE ${_page})
      endif()
    endif()
  endif()
endforeach()
file(GLOB _pages ${_man}/*.3)
foreach(_page ${_pages})
  execute_process(COMMAND gzip -9 -n -f ${_page} RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "gzip ${_page} failed")
  endif()
endforeach()
