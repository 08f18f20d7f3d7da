# SPDX-License-Identifier: MIT
# Writes a C++ source that holds the bytes of files, each as an entry of
# the table kestreld::kEmbeddedFiles (file name, bytes, size):
#   cmake "-DINPUTS=a.html|b.js" -DOUTPUT=files.cpp -P embed_files.cmake
string(REPLACE "|" ";" inputs "${INPUTS}")
set(body "")
set(table "")
set(i 0)
foreach(input ${inputs})
  get_filename_component(name "${input}" NAME)
  file(READ "${input}" content HEX)
  string(LENGTH "${content}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND body "const unsigned char kFile${i}[] = {\n${bytes}0};\n")
  string(APPEND table "    {\"${name}\", kFile${i}, ${size}},\n")
  math(EXPR i "${i} + 1")
endforeach()
file(WRITE "${OUTPUT}" "// Generated from the demonstration page's files; do not edit.
#include \"embedded_files.h\"
namespace kestreld {
namespace {
${body}}  // namespace
const EmbeddedFile kEmbeddedFiles[] = {
${table}    {nullptr, nullptr, 0},
};
}  // namespace kestreld
")
