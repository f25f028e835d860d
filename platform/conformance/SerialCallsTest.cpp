// Serial ports as the viewer uses them, on a port whose far end the case
// drives through a second port wired to it. Their names come from
// CONFORMANCE_PORT and CONFORMANCE_FAR_END ("COM5:", "COM6:").
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Conformance.h"
#include "ViewerLine.h"

#ifdef _WIN32
// Desktop Windows names its serial I/O controls in the driver kit's header;
// the handheld's windows.h has them.
#include <winioctl.h>
#include <ntddser.h>
#endif

namespace {

using conformance::ImposeViewerLine;
using conformance::Thread;
using conformance::WString;

WString PortName(const char* variable) {
  const char* name = std::getenv(variable);
  WString wide;
  for (const char* c = name != nullptr ? name : ""; *c != 0; ++c) wide += static_cast<WCHAR>(*c);
  return wide;
}

HANDLE OpenPort(const WString& name) {
  return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

bool SetTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
  COMMTIMEOUTS timeouts{interval, multiplier, constant, 10, 1000};
  return SetCommTimeouts(port, &timeouts) != FALSE;
}

// Reads until `count` bytes came or 2 s passed.
std::string ReadSome(HANDLE port, size_t count) {
  std::string got;
  const DWORD start = GetTickCount();
  while (got.size() < count && GetTickCount() - start < 2000) {
    char buffer[256];
    DWORD n = 0;
    if (!ReadFile(port, buffer, static_cast<DWORD>(count - got.size()), &n, nullptr)) break;
    got.append(buffer, n);
  }
  return got;
}

// Wine's WaitCommEvent on a pseudo-terminal returns at once with no event.
#define WAIT_COMM_EVENT_ON_A_PTY                                                     \
  "WaitCommEvent waits until an event of the mask happens (or the port is closed); " \
  "Wine's on a pseudo-terminal returns at once, reporting no event"

class Serial : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = PortName("CONFORMANCE_PORT");
    farName_ = PortName("CONFORMANCE_FAR_END");
    if (name_.empty() || farName_.empty())
      GTEST_SKIP() << "no ports named (conformance-runner names them)";
    port_ = OpenPort(name_);
    ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
    far_ = OpenPort(farName_);
    ASSERT_NE(far_, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(ImposeViewerLine(port_));
    ASSERT_TRUE(ImposeViewerLine(far_));
    ASSERT_TRUE(SetTimeouts(far_, 0, 0, 200));
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    PurgeComm(far_, PURGE_RXCLEAR | PURGE_TXCLEAR);
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    if (far_ != INVALID_HANDLE_VALUE) CloseHandle(far_);
  }
  void FarEndSends(const std::string& bytes) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(far_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
  }
  WString name_, farName_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  HANDLE far_ = INVALID_HANDLE_VALUE;
};

TEST_F(Serial, TheLineSettingsComeBackAsSetAndThePortHasOneUser) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(port_, &dcb));
  EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(CBR_57600));
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  dcb.BaudRate = CBR_4800;
  ASSERT_TRUE(SetCommState(port_, &dcb));
  DCB again{};
  again.DCBlength = sizeof again;
  ASSERT_TRUE(GetCommState(port_, &again));
  EXPECT_EQ(again.BaudRate, static_cast<DWORD>(CBR_4800));

  COMMTIMEOUTS set{MAXDWORD, 100, 3000, 10, 1000}, got{};
  ASSERT_TRUE(SetCommTimeouts(port_, &set));
  ASSERT_TRUE(GetCommTimeouts(port_, &got));
  EXPECT_EQ(std::memcmp(&set, &got, sizeof set), 0);

  WINE_DIFFERS(
      "a serial port has one user at a time (a second open is denied); Wine opens it "
      "again") {
    SetLastError(0);
    HANDLE second = OpenPort(name_);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
  }
  EXPECT_EQ(OpenPort(TEXT("COM9:")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// The serial calls' requests sent to the port as I/O controls: the values
// agree with what the calls set and report; a buffer too short for its
// value, and a code no serial port knows, are refused.
TEST_F(Serial, IoControlsAgreeWithTheCallsAndRefuseWhatTheyCannotTake) {
  COMMTIMEOUTS set{7, 8, 9, 10, 11}, got{};
  DWORD returned = 99;
  EXPECT_TRUE(DeviceIoControl(port_, IOCTL_SERIAL_SET_TIMEOUTS, &set, sizeof set, nullptr, 0,
                              &returned, nullptr));
  EXPECT_EQ(returned, 0u);
  ASSERT_TRUE(GetCommTimeouts(port_, &got));
  EXPECT_EQ(std::memcmp(&set, &got, sizeof set), 0);
  ASSERT_TRUE(SetTimeouts(port_, MAXDWORD, 100, 3000));
  EXPECT_TRUE(DeviceIoControl(port_, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &got, sizeof got,
                              &returned, nullptr));
  EXPECT_EQ(returned, sizeof got);
  EXPECT_EQ(got.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(got.ReadTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(got.ReadTotalTimeoutConstant, 3000u);

  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR | EV_CTS));
  DWORD mask = 0;
  EXPECT_TRUE(DeviceIoControl(port_, IOCTL_SERIAL_GET_WAIT_MASK, nullptr, 0, &mask, sizeof mask,
                              &returned, nullptr));
  EXPECT_EQ(returned, sizeof mask);
  EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR | EV_CTS));
  mask = EV_RXCHAR;
  EXPECT_TRUE(DeviceIoControl(port_, IOCTL_SERIAL_SET_WAIT_MASK, &mask, sizeof mask, nullptr, 0,
                              &returned, nullptr));
  ASSERT_TRUE(GetCommMask(port_, &mask));
  EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));

  SetLastError(0);
  EXPECT_FALSE(DeviceIoControl(port_, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &got,
                               sizeof got - 1, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  SetLastError(0);
  EXPECT_FALSE(DeviceIoControl(port_, IOCTL_SERIAL_SET_TIMEOUTS, &set, sizeof set - 1, nullptr,
                               0, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  SetLastError(0);
  EXPECT_FALSE(DeviceIoControl(port_,
                               CTL_CODE(FILE_DEVICE_SERIAL_PORT, 0x7F0, METHOD_BUFFERED,
                                        FILE_ANY_ACCESS),
                               nullptr, 0, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(Serial, BytesCrossBothWaysUntranslated) {
  ASSERT_TRUE(SetTimeouts(port_, 0, 0, 200));
  std::string every;
  for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
  FarEndSends(every);
  EXPECT_EQ(ReadSome(port_, every.size()), every);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port_, "$PSRF200,1\r\n", 12, &written, nullptr));
  EXPECT_EQ(written, 12u);
  EXPECT_EQ(ReadSome(far_, 12), "$PSRF200,1\r\n");
}

// The viewer's time-outs (MAXDWORD, 100, 3000) with one-byte reads: a byte
// that is there comes at once; without one the read ends by its total.
TEST_F(Serial, TimeOutsEndReadsAsTheirRulesSay) {
  ASSERT_TRUE(SetTimeouts(port_, MAXDWORD, 0, 0));
  char byte = 0;
  DWORD got = 9;
  DWORD start = GetTickCount();
  EXPECT_TRUE(ReadFile(port_, &byte, 1, &got, nullptr));  // nothing there: at once
  EXPECT_EQ(got, 0u);
  EXPECT_LT(GetTickCount() - start, 100u);

  ASSERT_TRUE(SetTimeouts(port_, 0, 0, 300));
  start = GetTickCount();
  char buffer[8];
  EXPECT_TRUE(ReadFile(port_, buffer, sizeof buffer, &got, nullptr));
  const DWORD waited = GetTickCount() - start;
  EXPECT_EQ(got, 0u);
  EXPECT_GE(waited, 300u - 16u);
  EXPECT_LT(waited, 2000u);

  ASSERT_TRUE(SetTimeouts(port_, MAXDWORD, 100, 3000));
  FarEndSends("AB");
  Sleep(100);
  start = GetTickCount();
  EXPECT_TRUE(ReadFile(port_, &byte, 1, &got, nullptr));
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(byte, 'A');
  EXPECT_TRUE(ReadFile(port_, &byte, 1, &got, nullptr));
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(byte, 'B');
  EXPECT_LT(GetTickCount() - start, 500u);
}

TEST_F(Serial, WaitCommEventReportsReceivedCharacters) {
  ASSERT_TRUE(SetTimeouts(port_, MAXDWORD, 0, 0));
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  DWORD mask = 0;
  ASSERT_TRUE(GetCommMask(port_, &mask));
  EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));
  std::atomic<DWORD> events{0};
  std::atomic<BOOL> waited{FALSE};
  Thread waiter([&] {
    DWORD seen = 0;
    waited = WaitCommEvent(port_, &seen, nullptr);
    events = seen;
  });
  Sleep(100);
  WINE_DIFFERS(WAIT_COMM_EVENT_ON_A_PTY) {
    EXPECT_FALSE(waited.load());  // nothing yet
  }
  FarEndSends("$");
  waiter.join();
  EXPECT_TRUE(waited.load());
  WINE_DIFFERS(WAIT_COMM_EVENT_ON_A_PTY) { EXPECT_NE(events & EV_RXCHAR, 0u); }
  EXPECT_EQ(ReadSome(port_, 1), "$");
}

TEST_F(Serial, PurgeDropsWhatWasReceived) {
  ASSERT_TRUE(SetTimeouts(port_, MAXDWORD, 0, 0));
  FarEndSends("stale bytes");
  Sleep(200);
  EXPECT_TRUE(PurgeComm(port_, PURGE_RXCLEAR));
  char buffer[32];
  DWORD got = 9;
  EXPECT_TRUE(ReadFile(port_, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 0u);
  FarEndSends("fresh");
  Sleep(100);
  EXPECT_EQ(ReadSome(port_, 5), "fresh");
}

// The viewer ends its reader thread by closing the port under it.
TEST_F(Serial, ClosingThePortEndsAWaitOnAnotherThread) {
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<BOOL> waited{TRUE};
  Thread waiter([&] {
    DWORD seen = 0;
    waited = WaitCommEvent(port_, &seen, nullptr);
    SetEvent(ended);
  });
  Sleep(100);
  EXPECT_TRUE(CloseHandle(port_));
  port_ = INVALID_HANDLE_VALUE;
  const bool returned = WaitForSingleObject(ended, 2000) == WAIT_OBJECT_0;
  EXPECT_TRUE(returned) << "the wait went on after the port was closed";
  if (returned) {
    waiter.join();
    WINE_DIFFERS(WAIT_COMM_EVENT_ON_A_PTY) {
      EXPECT_FALSE(waited.load());  // it ended by the close, not by an event
    }
  } else {
    waiter.detach();  // still waiting: left behind rather than waited for
  }
  // The port can be opened again.
  HANDLE again = OpenPort(name_);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
  CloseHandle(ended);
}

}  // namespace
