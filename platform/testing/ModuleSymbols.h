// Test support: the names a built module exports, as the dynamic linker
// sees them (`nm -D --defined-only`).
#pragma once

#include <set>
#include <string>

namespace handheld::testing {

std::set<std::string> DefinedDynamicSymbols(const std::string& path);

}  // namespace handheld::testing
