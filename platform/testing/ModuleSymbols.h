// Test support: the names a built module exports, as the dynamic linker
// sees them (`nm -D --defined-only`), and those of a Windows DLL's export
// table (mingw-w64's `objdump -p`).
#pragma once

#include <set>
#include <string>

namespace handheld::testing {

std::set<std::string> DefinedDynamicSymbols(const std::string& path);
std::set<std::string> DllExports(const std::string& path);

}  // namespace handheld::testing
