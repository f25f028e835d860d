// The hive's write-ahead log under two processes writing at full speed:
// bounded while they write, gone after both exit cleanly, with registry.db
// alone holding every value.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "handheld.h"
#include "testing/TempDevice.h"
#include "windows.h"

namespace {

using handheld::testing::TempDevice;
using Clock = std::chrono::steady_clock;

// HANDHELD_WAL_TEST_SECONDS runs the writers longer (the figure for ten
// seconds is taken that way).
int WriteSeconds() {
  const char* text = std::getenv("HANDHELD_WAL_TEST_SECONDS");
  int seconds = text ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 3;
}

std::vector<BYTE> Data(int writer, DWORD index) {
  std::vector<BYTE> data(200);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(writer * 31 + index + i);
  return data;
}

std::u16string ValueName(DWORD index) { return handheld::FromUtf8("v" + std::to_string(index)); }

std::u16string KeyName(int writer) {
  return handheld::FromUtf8("Wal\\w" + std::to_string(writer));
}

// A writer process: values into its own key until time is up; it reports
// how many through `out` and ends with exit() as a program does.
[[noreturn]] void Writer(int writer, int seconds, int out) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, KeyName(writer).c_str(), 0, nullptr, 0, 0, nullptr, &key,
                      &disposition) != ERROR_SUCCESS)
    std::exit(2);
  const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
  DWORD count = 0;
  while (Clock::now() < end) {
    std::vector<BYTE> data = Data(writer, count);
    if (RegSetValueExW(key, ValueName(count).c_str(), 0, REG_BINARY, data.data(),
                       static_cast<DWORD>(data.size())) != ERROR_SUCCESS)
      std::exit(3);
    ++count;
  }
  RegCloseKey(key);
  bool sent = write(out, &count, sizeof count) == sizeof count;
  std::exit(sent ? 0 : 4);
}

off_t SizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

TEST(RegistryWal, TwoBusyWritersKeepTheLogBoundedAndLeaveOneFile) {
  TempDevice device;
  const std::string wal = device.hivePath() + "-wal";
  const int seconds = WriteSeconds();
  std::vector<pid_t> writers;
  std::vector<int> reports;
  for (int writer = 0; writer < 2; ++writer) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      Writer(writer, seconds, fds[1]);
    }
    close(fds[1]);
    writers.push_back(pid);
    reports.push_back(fds[0]);
  }
  off_t largest = 0;
  std::vector<int> statuses(writers.size(), -1);
  for (size_t done = 0; done < writers.size();) {
    largest = std::max(largest, SizeOf(wal));
    for (size_t i = 0; i < writers.size(); ++i) {
      int status = 0;
      if (statuses[i] == -1 && waitpid(writers[i], &status, WNOHANG) == writers[i]) {
        statuses[i] = WIFEXITED(status) ? WEXITSTATUS(status) : 100;
        ++done;
      }
    }
    usleep(2000);
  }
  std::vector<DWORD> counts(writers.size(), 0);
  for (size_t i = 0; i < writers.size(); ++i) {
    EXPECT_EQ(statuses[i], 0) << "writer " << i;
    EXPECT_EQ(read(reports[i], &counts[i], sizeof(DWORD)), static_cast<ssize_t>(sizeof(DWORD)));
    close(reports[i]);
  }
  std::printf("%d s, %u + %u values: largest write-ahead log %lld bytes\n", seconds, counts[0],
              counts[1], static_cast<long long>(largest));
  EXPECT_LE(largest, 16 << 20);
  EXPECT_FALSE(std::filesystem::exists(wal)) << "the last writer to close removes the log";

  // registry.db alone, in a folder of its own, holds every value.
  TempDevice copy;
  std::filesystem::copy_file(device.hivePath(), copy.hivePath());
  for (int writer = 0; writer < 2; ++writer) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, KeyName(writer).c_str(), 0, 0, &key), ERROR_SUCCESS);
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, counts[writer]);
    int wrong = 0;
    for (DWORD i = 0; i < counts[writer]; ++i) {
      BYTE data[256];
      DWORD bytes = sizeof data;
      if (RegQueryValueExW(key, ValueName(i).c_str(), nullptr, nullptr, data, &bytes) !=
              ERROR_SUCCESS ||
          std::vector<BYTE>(data, data + bytes) != Data(writer, i))
        ++wrong;
    }
    EXPECT_EQ(wrong, 0) << "writer " << writer;
    RegCloseKey(key);
  }
}

}  // namespace
