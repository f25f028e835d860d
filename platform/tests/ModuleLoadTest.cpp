// A module loaded with dlopen uses the same platform as its host: handles
// it makes are valid in the host and the host's are valid in it.
#include <dlfcn.h>

#include <gtest/gtest.h>

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

}  // namespace
