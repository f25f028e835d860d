// A module loaded with dlopen uses the same platform as its host: handles
// it makes are valid in the host and the host's are valid in it.
#include <dlfcn.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "handheld.h"
#include "testing/DriverRegistry.h"
#include "testing/TempDevice.h"
#include "windows.h"

namespace {

using MakeObjects = BOOL (*)(HANDLE hostEvent, HANDLE* event, HANDLE* thread, HKEY* key);

TEST(ModuleLoad, HandlesMadeInALoadedModuleAreTheHostsHandles) {
  handheld::testing::TempDevice device;
  void* module = dlopen(TEST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto make = reinterpret_cast<MakeObjects>(dlsym(module, "ModuleMakeObjects"));
  ASSERT_NE(make, nullptr) << dlerror();

  HANDLE hostEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE event = nullptr, thread = nullptr;
  HKEY key = nullptr;
  ASSERT_TRUE(make(hostEvent, &event, &thread, &key));
  EXPECT_EQ(WaitForSingleObject(hostEvent, 0), WAIT_OBJECT_0);  // the module saw ours

  HANDLE both[] = {thread, event};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  DWORD made = 0, bytes = sizeof made;
  EXPECT_EQ(RegQueryValueExW(key, u"Made", nullptr, nullptr, reinterpret_cast<BYTE*>(&made),
                             &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(made, 1u);

  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_TRUE(CloseHandle(hostEvent));
  EXPECT_EQ(dlclose(module), 0);
}

// A module comes from the handheld's "\Windows" (or the ROM) and nowhere
// else: not from another folder of the handheld, not from a path that
// climbs out, not from the host by its own path -- whether LoadLibrary or a
// driver key's "Dll" names it.
TEST(ModuleLoad, ModulesComeOnlyFromTheHandheldsWindowsFolder) {
  namespace fs = std::filesystem;
  handheld::testing::TempDevice device;
  handheld::SetModuleFolders({});
  for (const std::string folder : {"/files/Windows", "/files/My Documents", ""}) {
    fs::create_directories(device.path() + folder);
    fs::copy_file(SLEEVE_SERIAL_FILE, device.path() + folder + "/SleeveSerial.dll");
  }
  struct Case {
    std::u16string name;
    bool loads;
  };
  const Case cases[] = {
      {u"SleeveSerial.dll", true},
      {u"\\Windows\\SleeveSerial.dll", true},
      {u"/Windows/SleeveSerial.dll", true},
      {u"\\My Documents\\SleeveSerial.dll", false},
      {u"\\Windows\\..\\..\\SleeveSerial.dll", false},
      {u"\\Windows/../../SleeveSerial.dll", false},
      {handheld::FromUtf8(SLEEVE_SERIAL_FILE), false},
      {handheld::FromUtf8(device.path() + "/SleeveSerial.dll"), false},
  };
  for (const Case& c : cases) {
    HMODULE module = LoadLibraryW(c.name.c_str());
    EXPECT_EQ(module != nullptr, c.loads) << handheld::ToUtf8(c.name);
    if (module) {
      EXPECT_TRUE(FreeLibrary(module));
    }
  }
  for (const Case& c : cases) {
    if (c.loads) continue;
    ASSERT_TRUE(handheld::testing::WriteDriverKey(u"Drivers\\Hostile", {c.name, u"COM", 5, ""}));
    EXPECT_EQ(ActivateDevice(u"Drivers\\Hostile", 0), nullptr) << handheld::ToUtf8(c.name);
  }
}

}  // namespace
