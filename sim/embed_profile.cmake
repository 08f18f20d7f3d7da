# SPDX-License-Identifier: MIT
# Writes a C++ source that holds a profile's bytes:
#   cmake -DINPUT=demo.profile -DOUTPUT=demo_profile.cpp -P embed_profile.cmake
file(READ "${INPUT}" content HEX)
string(LENGTH "${content}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from the built-in profile; do not edit.\n#include <cstddef>\nnamespace vr {\nextern const unsigned char kDemoProfileText[];\nextern const size_t kDemoProfileSize;\nconst unsigned char kDemoProfileText[] = {\n${bytes}0};\nconst size_t kDemoProfileSize = ${size};\n}  // namespace vr\n")
