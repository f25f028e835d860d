# cmake -DRES=<file.res> -DNAME=<name> -DSCRIPT=<file.rc> -DOUT=<file.cpp> -P ResourceImage.cmake
# Writes the C++ source that embeds a compiled resource image as bytes and
# registers it for the module that holds it at start-up. The bytes are in
# the source itself, so a compiler cache sees every change of them.
file(READ ${RES} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# Sixteen bytes a line.
set(bytes "")
foreach(at RANGE 0 ${digits} 32)
  string(SUBSTRING "${hex}" ${at} 32 line)
  if(line STREQUAL "")
    break()
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," line "${line}")
  string(APPEND bytes "    ${line}\n")
endforeach()
file(WRITE ${OUT}
"// The resources of ${NAME} (${SCRIPT}), compiled by the build into the
// standard binary resource format and embedded here; registered at start-up
// for the module that holds them. Generated: do not edit.
#include <windows.h>

namespace {

alignas(4) const BYTE kImage[${size}] = {
${bytes}};

[[maybe_unused]] const BOOL registered = DeclareResourceImage(kImage, sizeof kImage);

}  // namespace
")
