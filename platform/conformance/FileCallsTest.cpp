// Files as the log file uses them: made afresh, written, flushed, held
// without sharing, read back; and the dispositions and access modes' errors.
#include <cstring>

#include "Conformance.h"

namespace {

const WCHAR kLog[] = TEXT("\\conformance-session.log");

HANDLE OpenLog(DWORD access, DWORD share, DWORD disposition) {
  return CreateFileW(kLog, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override { DeleteFileW(kLog); }
  void TearDown() override { DeleteFileW(kLog); }
};

TEST_F(Files, TheLogIsWrittenFlushedHeldAloneAndReadBack) {
  SetLastError(0);
  HANDLE log = OpenLog(GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(log, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));  // it did not exist
  const char line[] = "$GPGGA,1*00\r\n";
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(log, line, sizeof line - 1, &written, nullptr));
  EXPECT_EQ(written, sizeof line - 1);
  EXPECT_TRUE(FlushFileBuffers(log));

  // Held without sharing: nobody else opens it, for reading or writing.
  SetLastError(0);
  EXPECT_EQ(OpenLog(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OpenLog(GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Not open for reading: a read fails.
  char back[64];
  DWORD got = 0;
  EXPECT_FALSE(ReadFile(log, back, sizeof back, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(CloseHandle(log));

  HANDLE reader = OpenLog(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(ReadFile(reader, back, sizeof back, &got, nullptr));
  ASSERT_EQ(got, sizeof line - 1);
  EXPECT_EQ(std::memcmp(back, line, got), 0);
  EXPECT_TRUE(ReadFile(reader, back, sizeof back, &got, nullptr));  // the end: no bytes
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(WriteFile(reader, line, 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // Shared for reading, a second reader may open it.
  HANDLE second = OpenLog(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  CloseHandle(second);
  CloseHandle(reader);

  // Made afresh over an existing file: empty again, and it says so.
  log = OpenLog(GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(log, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(log);
  reader = OpenLog(GENERIC_READ, 0, OPEN_EXISTING);
  EXPECT_TRUE(ReadFile(reader, back, sizeof back, &got, nullptr));
  EXPECT_EQ(got, 0u);
  CloseHandle(reader);
}

TEST_F(Files, DispositionsFailWithTheirReasons) {
  SetLastError(0);
  EXPECT_EQ(OpenLog(GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  HANDLE made = OpenLog(GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  CloseHandle(made);
  EXPECT_EQ(OpenLog(GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  HANDLE opened = OpenLog(GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(opened, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(opened);
  EXPECT_TRUE(DeleteFileW(kLog));
  EXPECT_FALSE(DeleteFileW(kLog));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(CreateFileW(TEXT("\\no such folder\\x.log"), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
