// Files on the handheld's file system, kept under a temporary device folder.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "handheld.h"
#include "testing/TempDevice.h"

namespace {

using handheld::testing::TempDevice;

class FileTest : public ::testing::Test {
 protected:
  std::string Host(const std::string& relative) const { return device_.path() + "/files/" + relative; }

  std::string HostContent(const std::string& relative) const {
    std::ifstream in(Host(relative), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static bool Write(HANDLE h, const std::string& text) {
    DWORD written = 0;
    return WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
  }

  static std::string ReadAll(HANDLE h) {
    std::string out;
    char buffer[7];  // small on purpose: several calls
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
      out.append(buffer, got);
    }
    return out;
  }

  static HANDLE Open(const char16_t* path, DWORD access, DWORD share, DWORD creation) {
    return CreateFileW(path, access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  TempDevice device_;
};

TEST_F(FileTest, WritesLandUnderTheDeviceFolderAtOnce) {
  HANDLE log = Open(u"\\My Documents\\Quelmar.log", GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(log, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(Write(log, "$GPGGA,1*00\r\n"));
  // Nothing waits in the process: the host file has the bytes already.
  EXPECT_EQ(HostContent("My Documents/Quelmar.log"), "$GPGGA,1*00\r\n");
  ASSERT_TRUE(Write(log, "$GPRMC,2*00\r\n"));
  EXPECT_TRUE(FlushFileBuffers(log));
  EXPECT_TRUE(CloseHandle(log));
  EXPECT_EQ(HostContent("My Documents/Quelmar.log"), "$GPGGA,1*00\r\n$GPRMC,2*00\r\n");
  // The file is the owner's alone, whatever the umask of the process.
  const mode_t umaskWas = umask(0);
  HANDLE open = Open(u"\\My Documents\\Open.log", GENERIC_WRITE, 0, CREATE_NEW);
  umask(umaskWas);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(open));
  struct stat made {};
  for (const char* name : {"My Documents/Quelmar.log", "My Documents/Open.log"}) {
    ASSERT_EQ(stat(Host(name).c_str(), &made), 0) << name;
    EXPECT_EQ(made.st_mode & 0777, 0600u) << name;
  }

  // The standard folders exist once files are used.
  EXPECT_TRUE(std::filesystem::is_directory(Host("Windows")));
  // Forward slashes and a missing leading separator name the same file.
  HANDLE again = Open(u"My Documents/Quelmar.log", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadAll(again), "$GPGGA,1*00\r\n$GPRMC,2*00\r\n");
  EXPECT_TRUE(CloseHandle(again));
}

TEST_F(FileTest, AppendsAfterSeekingToTheEnd) {
  HANDLE f = Open(u"\\notes.txt", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(f, "first line\n"));
  ASSERT_TRUE(CloseHandle(f));

  f = Open(u"\\notes.txt", GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(SetFilePointer(f, 0, nullptr, FILE_END), 11u);
  ASSERT_TRUE(Write(f, "second line\n"));
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(f, &high), 23u);
  EXPECT_EQ(high, 0u);

  EXPECT_EQ(SetFilePointer(f, 6, nullptr, FILE_BEGIN), 6u);
  EXPECT_EQ(SetFilePointer(f, -2, nullptr, FILE_CURRENT), 4u);
  char word[5] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(f, word, 4, &got, nullptr));
  EXPECT_EQ(std::string(word, got), "t li");

  LONG up = 0;
  EXPECT_EQ(SetFilePointer(f, 0, &up, FILE_BEGIN), 0u);
  EXPECT_EQ(ReadAll(f), "first line\nsecond line\n");
  // Reading at the end delivers nothing and succeeds.
  ASSERT_TRUE(ReadFile(f, word, 4, &got, nullptr));
  EXPECT_EQ(got, 0u);

  EXPECT_EQ(SetFilePointer(f, -100, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_NE(GetLastError(), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(SetFilePointer(f, 0, nullptr, 9), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(CloseHandle(f));
  EXPECT_EQ(HostContent("notes.txt"), "first line\nsecond line\n");
}

TEST_F(FileTest, CreationDispositionsBehaveAsOnTheHandheld) {
  HANDLE f = Open(u"\\My Documents\\a.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
  EXPECT_EQ(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  f = Open(u"\\My Documents\\a.txt", GENERIC_WRITE, 0, TRUNCATE_EXISTING);
  EXPECT_EQ(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // A missing folder is not created.
  f = Open(u"\\No Such Folder\\a.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
  EXPECT_EQ(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(Host("No Such Folder")));

  f = Open(u"\\My Documents\\a.txt", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(f, "0123456789"));
  ASSERT_TRUE(CloseHandle(f));

  f = Open(u"\\My Documents\\a.txt", GENERIC_WRITE, 0, CREATE_NEW);
  EXPECT_EQ(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

  f = Open(u"\\My Documents\\a.txt", GENERIC_READ, 0, OPEN_ALWAYS);  // keeps the content
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ReadAll(f), "0123456789");
  ASSERT_TRUE(CloseHandle(f));

  f = Open(u"\\My Documents\\a.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);  // empties it
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetFileSize(f, nullptr), 0u);
  ASSERT_TRUE(Write(f, "abc"));
  ASSERT_TRUE(CloseHandle(f));

  f = Open(u"\\My Documents\\a.txt", GENERIC_WRITE, 0, TRUNCATE_EXISTING);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(f, nullptr), 0u);
  ASSERT_TRUE(CloseHandle(f));
  f = Open(u"\\My Documents\\a.txt", GENERIC_READ, 0, TRUNCATE_EXISTING);  // needs write access
  EXPECT_EQ(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  f = Open(u"\\My Documents\\b.txt", GENERIC_WRITE, 0, OPEN_ALWAYS);  // creates it
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(CloseHandle(f));

  // A folder is not a file.
  f = Open(u"\\My Documents", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_EQ(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileTest, AccessAndShareModesAreEnforced) {
  HANDLE log = Open(u"\\My Documents\\Quelmar.log", GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(log, INVALID_HANDLE_VALUE);
  char byte;
  DWORD got = 9;
  EXPECT_FALSE(ReadFile(log, &byte, 1, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(Write(log, "kept"));

  // Opened without sharing: nobody else gets in, and the content survives
  // a refused CREATE_ALWAYS.
  HANDLE other = Open(u"\\My Documents\\Quelmar.log", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      OPEN_EXISTING);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  other = Open(u"\\My Documents\\Quelmar.log", GENERIC_WRITE, 0, CREATE_ALWAYS);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(HostContent("My Documents/Quelmar.log"), "kept");
  EXPECT_FALSE(DeleteFileW(u"\\My Documents\\Quelmar.log"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ASSERT_TRUE(CloseHandle(log));

  // Readers that share reading get along; a writer does not join them.
  HANDLE r1 = Open(u"\\My Documents\\Quelmar.log", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  HANDLE r2 = Open(u"\\My Documents\\Quelmar.log", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(r1, INVALID_HANDLE_VALUE);
  ASSERT_NE(r2, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteFile(r1, "x", 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE w = Open(u"\\My Documents\\Quelmar.log", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_EQ(w, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ReadAll(r1), "kept");
  EXPECT_EQ(ReadAll(r2), "kept");  // each handle has its own position
  EXPECT_TRUE(CloseHandle(r1));
  EXPECT_TRUE(CloseHandle(r2));

  EXPECT_TRUE(DeleteFileW(u"\\My Documents\\Quelmar.log"));
  EXPECT_FALSE(std::filesystem::exists(Host("My Documents/Quelmar.log")));
  EXPECT_FALSE(DeleteFileW(u"\\My Documents\\Quelmar.log"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(u"\\Nowhere\\Quelmar.log"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileTest, NamesCannotLeaveTheDeviceFolder) {
  // A folder of the device folder that is a symbolic link leads nowhere.
  std::filesystem::create_directories(Host("My Documents"));
  std::filesystem::create_directory_symlink(device_.path(), Host("My Documents/out"));
  const char16_t* bad[] = {u"\\..\\registry.db", u"\\My Documents\\..\\..\\escape.txt",
                           u"..", u"\\My Documents\\.\\a.txt", u"\\a?.txt", u"\\c:x.txt", u"",
                           u"/../escape.txt", u"\\My Documents/../../escape.txt",
                           u"My Documents\\..\\..\\escape.txt", u"\\a|b.txt", u"\\a\x01.txt",
                           u"\\My Documents\\out\\escape.txt"};
  for (const char16_t* name : bad) {
    SetLastError(0);
    EXPECT_EQ(Open(name, GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE)
        << handheld::ToUtf8(name);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(DeleteFileW(name));
    EXPECT_EQ(handheld::HostPath(name), "") << handheld::ToUtf8(name);
  }
  EXPECT_FALSE(std::filesystem::exists(device_.path() + "/escape.txt"));
  // Both separators part a name, and repeated ones count once.
  EXPECT_EQ(handheld::HostPath(u"/My Documents//a.txt"), Host("My Documents/a.txt"));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  DWORD got = 0;
  char byte;
  EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, &byte, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// File calls take only what CreateFile gave: an event or a closed file is
// no file.
TEST_F(FileTest, FileCallsRefuseHandlesThatAreNoFile) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE closed = Open(u"\\closed.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(closed, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CloseHandle(closed));
  for (HANDLE h : {event, closed}) {
    char byte = 'x';
    DWORD moved = 7;
    SetLastError(0);
    EXPECT_FALSE(ReadFile(h, &byte, 1, &moved, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(moved, 0u);
    SetLastError(0);
    EXPECT_FALSE(WriteFile(h, &byte, 1, &moved, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  EXPECT_TRUE(CloseHandle(event));
}

}  // namespace
