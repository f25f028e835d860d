// Several processes on one hive: forked writers, each with its own
// connection, against the same registry.db.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "handheld.h"
#include "testing/TempDevice.h"
#include "windows.h"

namespace {

using handheld::testing::TempDevice;

std::u16string W(const std::string& text) { return handheld::FromUtf8(text); }

bool SetDword(HKEY key, const std::u16string& name, DWORD value) {
  return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        4) == ERROR_SUCCESS;
}

bool GetDword(HKEY key, const std::u16string& name, DWORD* value) {
  DWORD bytes = 4;
  return RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                          &bytes) == ERROR_SUCCESS &&
         bytes == 4;
}

HKEY CreateKey(const std::u16string& path) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                      &disposition) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

// Runs `body` in a forked child that waits for a byte on `gate` first; the
// child's exit status is the number of failures (capped).
template <class Body>
pid_t Spawn(int gate, Body body) {
  pid_t pid = fork();
  if (pid == 0) {
    char go = 0;
    if (gate >= 0 && read(gate, &go, 1) != 1) _exit(100);
    int failures = body();
    _exit(failures > 99 ? 99 : failures);
  }
  return pid;
}

int ExitCode(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

constexpr int kValues = 250;

// One writer: its own key, names of its own in a shared key, and numbered
// entries under "Drivers\Active" that all writers compete for.
int Writer(int id) {
  int failures = 0;
  std::string tag = "w" + std::to_string(id);
  HKEY own = CreateKey(W("Writers\\" + tag));
  HKEY shared = CreateKey(u"Writers\\Shared");
  if (!own || !shared) return 99;
  for (int i = 0; i < kValues; ++i) {
    if (!SetDword(own, W("v" + std::to_string(i)), static_cast<DWORD>(i))) ++failures;
    if (!SetDword(shared, W(tag + "-" + std::to_string(i)), static_cast<DWORD>(i))) ++failures;
    if (i % 25 == 0) {
      std::string port = "COM" + std::to_string(id) + "-" + std::to_string(i) + ":";
      if (handheld::RegisterSerialPort(W(port), W("Drivers\\" + tag), "/dev/null").empty())
        ++failures;
    }
  }
  RegCloseKey(own);
  RegCloseKey(shared);
  return failures;
}

TEST(RegistryMultiProcessTest, ConcurrentWritersLoseNothing) {
  TempDevice device;  // no hive yet: the writers race to create it
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  constexpr int kChildren = 2;
  std::vector<pid_t> children;
  for (int id = 1; id <= kChildren; ++id)
    children.push_back(Spawn(gate[0], [id] { return Writer(id); }));
  ASSERT_EQ(write(gate[1], "gg", kChildren), kChildren);
  int parentFailures = Writer(0);
  for (pid_t child : children) EXPECT_EQ(ExitCode(child), 0);
  close(gate[0]);
  close(gate[1]);
  EXPECT_EQ(parentFailures, 0);

  HKEY shared = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Writers\\Shared", 0, 0, &shared), ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(shared, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, static_cast<DWORD>((kChildren + 1) * kValues));
  for (int id = 0; id <= kChildren; ++id) {
    HKEY own = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Writers\\w" + std::to_string(id)).c_str(), 0, 0,
                            &own),
              ERROR_SUCCESS);
    for (int i = 0; i < kValues; ++i) {
      DWORD a = 0, b = 0;
      ASSERT_TRUE(GetDword(own, W("v" + std::to_string(i)), &a)) << id << " " << i;
      ASSERT_TRUE(GetDword(shared, W("w" + std::to_string(id) + "-" + std::to_string(i)), &b));
      EXPECT_EQ(a, static_cast<DWORD>(i));
      EXPECT_EQ(b, static_cast<DWORD>(i));
    }
    RegCloseKey(own);
  }
  RegCloseKey(shared);

  // Every registration got an entry of its own.
  HKEY active = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Active", 0, 0, &active), ERROR_SUCCESS);
  std::set<std::u16string> ports;
  for (DWORD i = 0;; ++i) {
    WCHAR name[8];
    DWORD chars = 8;
    if (RegEnumKeyExW(active, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    HKEY entry = nullptr;
    ASSERT_EQ(RegOpenKeyExW(active, name, 0, 0, &entry), ERROR_SUCCESS);
    WCHAR port[32] = {};
    DWORD bytes = sizeof(port) - 2;
    ASSERT_EQ(RegQueryValueExW(entry, u"Name", nullptr, nullptr, reinterpret_cast<BYTE*>(port),
                               &bytes),
              ERROR_SUCCESS);
    ports.insert(port);
    RegCloseKey(entry);
  }
  RegCloseKey(active);
  EXPECT_EQ(ports.size(), static_cast<size_t>((kChildren + 1) * (kValues / 25)));
}

TEST(RegistryMultiProcessTest, EachChangeIsVisibleToTheOtherProcessWhenTheCallReturns) {
  TempDevice device;
  HKEY key = CreateKey(u"PingPong");
  ASSERT_NE(key, nullptr);
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  constexpr int kRounds = 30;
  pid_t child = Spawn(-1, [&] {
    // The handle inherited from the parent works here too (on a
    // connection of the child's own), and so does a fresh one.
    HKEY own = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"PingPong", 0, 0, &own) != ERROR_SUCCESS) return 51;
    int failures = 0;
    for (int round = 0; round < kRounds; ++round) {
      char token = 0;
      if (read(toChild[0], &token, 1) != 1) return 52;
      DWORD ping = 0;
      if (!GetDword(key, u"ping", &ping) || ping != static_cast<DWORD>(round)) ++failures;
      if (!SetDword(own, u"pong", static_cast<DWORD>(round))) ++failures;
      if (write(toParent[1], "p", 1) != 1) return 53;
    }
    RegCloseKey(own);
    return failures;
  });
  for (int round = 0; round < kRounds; ++round) {
    ASSERT_TRUE(SetDword(key, u"ping", static_cast<DWORD>(round)));
    ASSERT_EQ(write(toChild[1], "p", 1), 1);
    char token = 0;
    ASSERT_EQ(read(toParent[0], &token, 1), 1);
    DWORD pong = 99;
    EXPECT_TRUE(GetDword(key, u"pong", &pong));
    EXPECT_EQ(pong, static_cast<DWORD>(round));
  }
  EXPECT_EQ(ExitCode(child), 0);
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
  RegCloseKey(key);
}

TEST(RegistryMultiProcessTest, KeyDeletedByAnotherProcessFailsCleanly) {
  TempDevice device;
  HKEY key = CreateKey(u"Drivers\\Active\\07");
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(SetDword(key, u"Hnd", 7));
  pid_t child = Spawn(-1, [] {
    return RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\Active") == ERROR_SUCCESS ? 0 : 1;
  });
  ASSERT_EQ(ExitCode(child), 0);
  DWORD value = 0;
  DWORD bytes = 4;
  EXPECT_EQ(RegQueryValueExW(key, u"Hnd", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &bytes),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Active", 0, 0, &gone),
            ERROR_FILE_NOT_FOUND);
}

TEST(RegistryMultiProcessTest, ForkWhileAnotherThreadWritesLeavesBothSidesWorking) {
  TempDevice device;
  HKEY key = CreateKey(u"Busy");
  ASSERT_NE(key, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> writes{0}, failures{0};
  std::thread writer([&] {
    for (DWORD i = 0; !stop; ++i) {
      if (!SetDword(key, u"counter", i)) ++failures;
      ++writes;
    }
  });
  while (writes < 20) std::this_thread::yield();
  for (int round = 0; round < 5; ++round) {
    pid_t child = Spawn(-1, [&] {
      DWORD value = 0;
      if (!GetDword(key, u"counter", &value)) return 1;
      HKEY own = CreateKey(u"Busy\\child");
      if (!own || !SetDword(own, u"round", static_cast<DWORD>(round))) return 2;
      RegCloseKey(own);
      return 0;
    });
    EXPECT_EQ(ExitCode(child), 0) << round;
  }
  int before = writes;
  while (writes < before + 20) std::this_thread::yield();
  stop = true;
  writer.join();
  EXPECT_EQ(failures.load(), 0);
  HKEY childKey = nullptr;
  ASSERT_EQ(RegOpenKeyExW(key, u"child", 0, 0, &childKey), ERROR_SUCCESS);
  DWORD round = 0;
  EXPECT_TRUE(GetDword(childKey, u"round", &round));
  EXPECT_EQ(round, 4u);
  RegCloseKey(childKey);
  RegCloseKey(key);
}

}  // namespace
