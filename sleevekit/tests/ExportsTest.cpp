// The library as a module: its exported names and its loading by the
// handheld's names.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Ferrix.h"
#include "handheld.h"
#include "testing/ModuleSymbols.h"

namespace {

// The names its export table holds, here and in the Windows DLL.
const std::set<std::string> kFerrixExports = {
    "IsSleevePresent",
    "GetSleeveID",
    "SleevePower",
    "OPTIntEnable",
    "OPTReset",
    "AddDetectKey",
    "RemoveDetectKey",
    "AddKeyValues",
    "GetDriversActiveHandle",
    "HalTranslateBusAddress",
    "MmMapIoSpace",
    "MmUnmapIoSpace",
    "MapDeviceIO",
    "READ_REGISTER_BUFFER_UCHAR",
    "READ_REGISTER_BUFFER_USHORT",
    "READ_REGISTER_BUFFER_ULONG",
    "WRITE_REGISTER_BUFFER_UCHAR",
    "WRITE_REGISTER_BUFFER_USHORT",
    "WRITE_REGISTER_BUFFER_ULONG",
    "READ_PORT_BUFFER_UCHAR",
    "READ_PORT_BUFFER_USHORT",
    "READ_PORT_BUFFER_ULONG",
    "WRITE_PORT_BUFFER_UCHAR",
    "WRITE_PORT_BUFFER_USHORT",
    "WRITE_PORT_BUFFER_ULONG",
};

TEST(FerrixModule, ExportsExactlyItsNamesUndecorated) {
  EXPECT_EQ(handheld::testing::DefinedDynamicSymbols(FERRIX_FILE), kFerrixExports);
}

TEST(FerrixModule, TheWindowsDllExportsTheSameNames) {
  if (std::string(WINDOWS_DIR).empty())
    GTEST_SKIP() << "no Windows build (mingw-w64 is not installed)";
  EXPECT_EQ(handheld::testing::DllExports(std::string(WINDOWS_DIR) + "/Ferrix.dll"),
            kFerrixExports);
}

TEST(FerrixModule, LoadsByItsHandheldNames) {
  HMODULE first = nullptr;
  for (const char16_t* name : {u"FERRIX.DLL", u"\\Windows\\ferrix.dll", u"Ferrix"}) {
    HMODULE module = LoadLibraryW(name);
    ASSERT_NE(module, nullptr) << handheld::ToUtf8(name);
    if (!first) first = module;
    EXPECT_EQ(module, first) << handheld::ToUtf8(name);  // one module, counted
  }
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddressW(first, u"GetSleeveID")),
            reinterpret_cast<void*>(&GetSleeveID));
  EXPECT_EQ(GetProcAddressW(first, u"DllMain"), nullptr);  // the entry point is no export
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  // Its entry point ran on attach and declined per-thread calls.
  EXPECT_TRUE(handheld::ThreadLibraryCallsDisabled(first));

  for (int i = 0; i < 3; ++i) EXPECT_TRUE(FreeLibrary(first)) << i;
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  EXPECT_EQ(LoadLibraryW(u"Nothing.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
