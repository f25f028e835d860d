// Serial ports over a real pseudo-terminal, found through a real hive.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "conformance/ViewerLine.h"
#include "handheld.h"
#include "testing/PtyPeer.h"
#include "testing/TempDevice.h"

namespace {

using Clock = std::chrono::steady_clock;
using handheld::testing::PtyPeer;
using handheld::testing::TempDevice;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void ApplyViewerSettings(HANDLE port) { ASSERT_TRUE(conformance::ImposeViewerLine(port)); }

void ApplyTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
  COMMTIMEOUTS t{interval, multiplier, constant, 10, 1000};
  ASSERT_TRUE(SetCommTimeouts(port, &t));
}

// Bytes queued on the tty for reading (shared by every descriptor of it).
int QueuedOnTty(const PtyPeer& peer) {
  int queued = -1;
  ioctl(peer.slaveFd(), FIONREAD, &queued);
  return queued;
}

bool WaitForQueued(const PtyPeer& peer, int count) {
  auto start = Clock::now();
  while (QueuedOnTty(peer) < count) {
    if (MsSince(start) > 2000) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.ok());
    device_.AddSerialPort(u"COM3:", peer_.slavePath());
  }

  static HANDLE Open(const char16_t* name = u"COM3:", DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return CreateFileW(name, access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }

  TempDevice device_;
  PtyPeer peer_;
};

TEST_F(SerialPortTest, LineSettingsReachTheTtyAndModemLinesAreRecorded) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ApplyViewerSettings(port);

  termios t{};
  ASSERT_EQ(tcgetattr(peer_.slaveFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & PARENB);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
  // Raw: no echo, no line editing, no CR/LF translation either way.
  EXPECT_FALSE(t.c_lflag & (ECHO | ICANON | ISIG));
  EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR));
  EXPECT_FALSE(t.c_oflag & OPOST);

  handheld::SerialLines lines{};
  ASSERT_TRUE(handheld::GetSerialLines(port, &lines));
  EXPECT_TRUE(lines.dtr);
  EXPECT_TRUE(lines.rts);

  // What termios cannot hold still comes back as it was set.
  DCB back{};
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(back.DCBlength, sizeof(DCB));
  EXPECT_EQ(back.BaudRate, CBR_57600);
  EXPECT_EQ(back.fParity, 1u);
  EXPECT_EQ(back.fTXContinueOnXoff, 1u);
  EXPECT_EQ(back.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
  EXPECT_EQ(back.ByteSize, 8);
  EXPECT_EQ(back.Parity, NOPARITY);
  EXPECT_EQ(back.StopBits, ONESTOPBIT);

  back.fDtrControl = DTR_CONTROL_DISABLE;
  ASSERT_TRUE(SetCommState(port, &back));
  ASSERT_TRUE(handheld::GetSerialLines(port, &lines));
  EXPECT_FALSE(lines.dtr);
  EXPECT_TRUE(lines.rts);
  ASSERT_TRUE(EscapeCommFunction(port, SETDTR));
  ASSERT_TRUE(EscapeCommFunction(port, CLRRTS));
  ASSERT_TRUE(handheld::GetSerialLines(port, &lines));
  EXPECT_TRUE(lines.dtr);
  EXPECT_FALSE(lines.rts);
  EXPECT_FALSE(EscapeCommFunction(port, 77));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  EXPECT_TRUE(CloseHandle(port));
}

// Each of the far end's lines shows as its own bit, and only that one.
TEST_F(SerialPortTest, ModemStatusReportsEachOfTheFarEndsLines) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DWORD status = 0xFFFF;
  ASSERT_TRUE(GetCommModemStatus(port, &status));
  EXPECT_EQ(status, 0u) << "a pty's lines are low until recorded";
  const struct {
    handheld::FarEndLines lines;
    DWORD expected;
  } kCases[] = {
      {{true, false, false, false}, MS_CTS_ON},
      {{false, true, false, false}, MS_DSR_ON},
      {{false, false, true, false}, MS_RING_ON},
      {{false, false, false, true}, MS_RLSD_ON},
      {{true, true, true, true}, MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON},
      {{false, false, false, false}, 0},
  };
  for (const auto& c : kCases) {
    ASSERT_TRUE(handheld::SetFarEndLines(port, c.lines));
    ASSERT_TRUE(GetCommModemStatus(port, &status));
    EXPECT_EQ(status, c.expected);
  }
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, HandshakeParityAndStopBitsMapBothWays) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.fParity = 1;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutxCtsFlow = 1;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  ASSERT_TRUE(SetCommState(port, &dcb));

  termios t{};
  ASSERT_EQ(tcgetattr(peer_.slaveFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  // A pty keeps eight data bits without parity whatever it is asked for;
  // the port still reports the settings it was given (below).
  EXPECT_TRUE(t.c_iflag & INPCK);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);

  DCB back{};
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(back.BaudRate, CBR_9600);
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, EVENPARITY);
  EXPECT_EQ(back.StopBits, TWOSTOPBITS);
  EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));

  // Back to the plain settings: every handshake goes off again.
  ApplyViewerSettings(port);
  ASSERT_EQ(tcgetattr(peer_.slaveFd(), &t), 0);
  EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | INPCK));
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, InvalidSettingsAreRefusedAndChangeNothing) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ApplyViewerSettings(port);
  DCB good{};
  ASSERT_TRUE(GetCommState(port, &good));

  auto refused = [&](auto change) {
    DCB dcb = good;
    change(dcb);
    SetLastError(0);
    bool ok = SetCommState(port, &dcb) != FALSE;
    return !ok && GetLastError() == static_cast<DWORD>(ERROR_INVALID_PARAMETER);
  };
  EXPECT_TRUE(refused([](DCB& d) { d.BaudRate = 12345; }));
  EXPECT_TRUE(refused([](DCB& d) { d.BaudRate = 0; }));
  EXPECT_TRUE(refused([](DCB& d) { d.ByteSize = 9; }));
  EXPECT_TRUE(refused([](DCB& d) { d.Parity = 7; }));
  EXPECT_TRUE(refused([](DCB& d) { d.StopBits = 3; }));
  EXPECT_TRUE(refused([](DCB& d) {
    d.fOutX = 1;
    d.XonChar = d.XoffChar = 0x11;
  }));
  EXPECT_FALSE(SetCommState(port, nullptr));

  DCB now{};
  ASSERT_TRUE(GetCommState(port, &now));
  EXPECT_EQ(now.BaudRate, CBR_57600);
  EXPECT_EQ(now.ByteSize, 8);
  termios t{};
  ASSERT_EQ(tcgetattr(peer_.slaveFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));

  COMMTIMEOUTS set{MAXDWORD, 100, 3000, 10, 1000};
  ASSERT_TRUE(SetCommTimeouts(port, &set));
  COMMTIMEOUTS bad{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
  EXPECT_FALSE(SetCommTimeouts(port, &bad));
  COMMTIMEOUTS got{};
  ASSERT_TRUE(GetCommTimeouts(port, &got));
  EXPECT_EQ(got.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(got.ReadTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(got.ReadTotalTimeoutConstant, 3000u);
  EXPECT_EQ(got.WriteTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(got.WriteTotalTimeoutConstant, 1000u);
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, BytesFlowBothWaysInOrderAndUntranslated) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ApplyViewerSettings(port);
  ApplyTimeouts(port, MAXDWORD, 100, 3000);

  // Every byte value, CR, LF, XON, XOFF, ^C and NUL among them.
  std::vector<uint8_t> sent;
  for (int round = 0; round < 4; ++round)
    for (int b = 0; b < 256; ++b) sent.push_back(static_cast<uint8_t>(round % 2 ? 255 - b : b));
  ASSERT_TRUE(peer_.Write(sent));
  std::vector<uint8_t> received;
  while (received.size() < sent.size()) {
    uint8_t byte = 0;
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(port, &byte, 1, &got, nullptr));
    ASSERT_EQ(got, 1u) << "after " << received.size() << " bytes";
    received.push_back(byte);
  }
  EXPECT_EQ(received, sent);

  for (int b = 0; b < 256; ++b) {
    uint8_t byte = static_cast<uint8_t>(b);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, &byte, 1, &written, nullptr));
    ASSERT_EQ(written, 1u);
  }
  std::vector<uint8_t> expected(sent.begin(), sent.begin() + 256);
  EXPECT_EQ(peer_.Read(256, 2000), expected);

  const char sentence[] = "$PSRF100,0,57600,8,1,0*0F\r\n";
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port, sentence, sizeof sentence - 1, &written, nullptr));
  EXPECT_EQ(written, sizeof sentence - 1);
  auto echoed = peer_.Read(sizeof sentence - 1, 2000);
  EXPECT_EQ(std::string(echoed.begin(), echoed.end()), sentence);
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, OneByteReadTakesAllThatArrivedIntoThePortsBuffer) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ApplyViewerSettings(port);
  ApplyTimeouts(port, MAXDWORD, 0, 0);
  ASSERT_TRUE(peer_.Write("0123456789"));
  ASSERT_TRUE(WaitForQueued(peer_, 10));

  char first = 0;
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(port, &first, 1, &got, nullptr));
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(first, '0');
  EXPECT_EQ(QueuedOnTty(peer_), 0);  // one system call took all ten

  char rest[32] = {};
  ASSERT_TRUE(ReadFile(port, rest, sizeof rest, &got, nullptr));
  EXPECT_EQ(std::string(rest, got), "123456789");
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, ReadTimeoutsFollowTheIntervalAndTotalRules) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ApplyViewerSettings(port);
  char buffer[16];
  DWORD got = 99;

  // MAXDWORD between bytes and no total: at once, with nothing.
  ApplyTimeouts(port, MAXDWORD, 0, 0);
  auto start = Clock::now();
  ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_LT(MsSince(start), 500);

  // MAXDWORD between bytes with a total: the first bytes end the read...
  ApplyTimeouts(port, MAXDWORD, 0, 5000);
  std::thread writer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer_.Write("abc");
  });
  start = Clock::now();
  ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &got, nullptr));
  writer.join();
  EXPECT_GE(got, 1u);
  EXPECT_LT(MsSince(start), 3000);
  EXPECT_EQ(std::string(buffer, got), std::string("abc").substr(0, got));
  if (got < 3) {
    // the rest arrived later
    DWORD more = 0;
    ASSERT_TRUE(ReadFile(port, buffer + got, 3 - got, &more, nullptr));
    EXPECT_EQ(got + more, 3u);
  }

  // ...and without any, the total ends it.
  ApplyTimeouts(port, MAXDWORD, 0, 300);
  start = Clock::now();
  ASSERT_TRUE(ReadFile(port, buffer, 1, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_GE(MsSince(start), 250);
  EXPECT_LT(MsSince(start), 3000);

  // A total of multiplier * count: three bytes asked, 100 ms each.
  ApplyTimeouts(port, 0, 100, 0);
  start = Clock::now();
  ASSERT_TRUE(ReadFile(port, buffer, 3, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_GE(MsSince(start), 250);
  EXPECT_LT(MsSince(start), 3000);

  // A total that expires with part of the request: what came is returned.
  ApplyTimeouts(port, 0, 0, 300);
  ASSERT_TRUE(peer_.Write("wxyz"));
  start = Clock::now();
  ASSERT_TRUE(ReadFile(port, buffer, 10, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "wxyz");
  EXPECT_GE(MsSince(start), 250);

  // Only a limit between bytes: the gap after the last byte ends the read.
  ApplyTimeouts(port, 100, 0, 0);
  ASSERT_TRUE(peer_.Write("pq"));
  start = Clock::now();
  ASSERT_TRUE(ReadFile(port, buffer, 10, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "pq");
  EXPECT_LT(MsSince(start), 3000);
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, WaitCommEventReportsReceivedCharacters) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ApplyViewerSettings(port);
  ApplyTimeouts(port, MAXDWORD, 0, 0);
  DWORD mask = 99;
  EXPECT_FALSE(WaitCommEvent(port, &mask, nullptr));  // no events selected
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  DWORD selected = 0;
  ASSERT_TRUE(GetCommMask(port, &selected));
  EXPECT_EQ(selected, EV_RXCHAR);

  // Bytes arriving while the wait is pending end it.
  std::thread writer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer_.Write("ab");
  });
  ASSERT_TRUE(WaitCommEvent(port, &mask, nullptr));
  writer.join();
  EXPECT_EQ(mask, EV_RXCHAR);

  // Bytes already in the port's own buffer count as received.
  ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
  ASSERT_TRUE(peer_.Write("cd"));
  ASSERT_TRUE(WaitForQueued(peer_, 2));
  char byte = 0;
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(port, &byte, 1, &got, nullptr));
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(byte, 'c');
  ASSERT_EQ(QueuedOnTty(peer_), 0);
  mask = 0;
  ASSERT_TRUE(WaitCommEvent(port, &mask, nullptr));
  EXPECT_EQ(mask, EV_RXCHAR);

  // Changing the mask ends a pending wait with no event.
  ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
  std::thread changer([port] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SetCommMask(port, EV_RXCHAR);
  });
  mask = 99;
  EXPECT_TRUE(WaitCommEvent(port, &mask, nullptr));
  changer.join();
  EXPECT_EQ(mask, 0u);
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, PurgeCommDropsWhatWasReceived) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ApplyTimeouts(port, MAXDWORD, 0, 0);
  ASSERT_TRUE(peer_.Write("0123456789"));
  ASSERT_TRUE(WaitForQueued(peer_, 10));
  char byte = 0;
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(port, &byte, 1, &got, nullptr));
  ASSERT_EQ(got, 1u);
  ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR));
  char rest[16];
  ASSERT_TRUE(ReadFile(port, rest, sizeof rest, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(PurgeComm(port, 0x100));
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, AWriteTheFarEndDoesNotTakeEndsAtItsTimeOutAndPurgeDropsIt) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 300};
  ASSERT_TRUE(SetCommTimeouts(port, &t));
  // The far end reads nothing, so the line fills up and the write can only
  // end by its time-out. (A write that ignored it would wait here until the
  // watchdog closes the port.)
  std::vector<char> block(1 << 20, 'w');
  std::atomic<bool> done{false};
  BOOL result = FALSE;
  DWORD written = 0;
  auto start = Clock::now();
  std::thread writer([&] {
    result = WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
    done = true;
  });
  while (!done.load() && MsSince(start) < 5000) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const bool timedOut = done.load();
  if (!timedOut) CloseHandle(port);
  writer.join();
  ASSERT_TRUE(timedOut) << "the write time-out was not kept";
  EXPECT_TRUE(result);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, block.size());

  // What the far end has not taken yet is dropped by a purge of the
  // transmit side: a marker written after it is among the first bytes the
  // far end reads.
  ASSERT_TRUE(PurgeComm(port, PURGE_TXCLEAR));
  DWORD sent = 0;
  ASSERT_TRUE(WriteFile(port, "#", 1, &sent, nullptr));
  ASSERT_EQ(sent, 1u);
  std::vector<uint8_t> arrived = peer_.ReadFor(2000);
  EXPECT_LT(arrived.size(), written / 2) << "purge left " << arrived.size() << " of " << written;
  EXPECT_FALSE(arrived.empty() || arrived.back() != '#');
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, CloseHandleEndsAPendingWaitAtOnce) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  std::atomic<bool> done{false};
  BOOL result = TRUE;
  DWORD error = 0;
  DWORD mask = 99;
  Clock::time_point ended;
  std::thread waiter([&] {
    result = WaitCommEvent(port, &mask, nullptr);
    error = GetLastError();
    ended = Clock::now();
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(done.load());
  auto closed = Clock::now();
  ASSERT_TRUE(CloseHandle(port));
  waiter.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(mask, 0u);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended - closed).count(), 1000);

  // The handle is gone for good.
  EXPECT_FALSE(SetCommMask(port, EV_RXCHAR));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  char byte;
  DWORD got = 5;
  EXPECT_FALSE(ReadFile(port, &byte, 1, &got, nullptr));
  EXPECT_EQ(got, 0u);
}

TEST_F(SerialPortTest, CloseHandleEndsAPendingReadAtOnce) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ApplyTimeouts(port, 0, 0, 0);  // no time-outs: the read waits for ever
  std::atomic<bool> done{false};
  BOOL result = TRUE;
  DWORD error = 0;
  DWORD got = 99;
  Clock::time_point ended;
  std::thread reader([&] {
    char byte;
    result = ReadFile(port, &byte, 1, &got, nullptr);
    error = GetLastError();
    ended = Clock::now();
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(done.load());
  auto closed = Clock::now();
  ASSERT_TRUE(CloseHandle(port));
  reader.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(got, 0u);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended - closed).count(), 1000);
}

TEST_F(SerialPortTest, WritesGoOutWhileAReadIsPending) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ApplyViewerSettings(port);
  ApplyTimeouts(port, 0, 0, 0);
  char received = 0;
  DWORD got = 0;
  BOOL result = FALSE;
  std::thread reader([&] { result = ReadFile(port, &received, 1, &got, nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (char c : std::string("hello")) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, &c, 1, &written, nullptr));
    ASSERT_EQ(written, 1u);
  }
  auto out = peer_.Read(5, 2000);
  EXPECT_EQ(std::string(out.begin(), out.end()), "hello");
  ASSERT_TRUE(peer_.Write("x"));
  reader.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(received, 'x');
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, MissingPortsAndDevicesAreNotFound) {
  SetLastError(0);
  EXPECT_EQ(Open(u"COM9:"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  device_.AddSerialPort(u"COM4:", "/dev/no-such-tty-here", u"Drivers\\Test\\Gone");
  SetLastError(0);
  EXPECT_EQ(Open(u"COM4:"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  SetLastError(0);
  EXPECT_EQ(Open(u"OPT1:"), INVALID_HANDLE_VALUE);  // no device manager has it
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // The comm calls refuse handles that are not ports.
  HANDLE file = CreateFileW(u"\\My Documents\\notes.txt", GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DCB dcb{};
  EXPECT_FALSE(GetCommState(file, &dcb));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(file));
}

// What the comm calls send, DeviceIoControl may send too: the same codes
// with the same buffers, checked for size before the port touches them.
TEST_F(SerialPortTest, SerialIoControlsServeTheCommCallsAndRefuseShortBuffers) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  struct Code {
    DWORD code;
    DWORD in, out;
  };
  const Code kCodes[] = {
      {IOCTL_SERIAL_SET_DCB, sizeof(DCB), 0},
      {IOCTL_SERIAL_GET_DCB, 0, sizeof(DCB)},
      {IOCTL_SERIAL_SET_TIMEOUTS, sizeof(COMMTIMEOUTS), 0},
      {IOCTL_SERIAL_GET_TIMEOUTS, 0, sizeof(COMMTIMEOUTS)},
      {IOCTL_SERIAL_SET_WAIT_MASK, sizeof(DWORD), 0},
      {IOCTL_SERIAL_GET_WAIT_MASK, 0, sizeof(DWORD)},
      {IOCTL_SERIAL_WAIT_ON_MASK, 0, sizeof(DWORD)},
      {IOCTL_SERIAL_GET_MODEMSTATUS, 0, sizeof(DWORD)},
      {IOCTL_SERIAL_PURGE, sizeof(DWORD), 0},
  };
  for (const Code& c : kCodes) {
    for (bool missing : {false, true}) {
      uint8_t in[sizeof(DCB)] = {};
      uint8_t out[sizeof(DCB)];
      std::memset(out, 0xA5, sizeof out);
      DWORD returned = 99;
      SetLastError(0);
      EXPECT_FALSE(DeviceIoControl(port, c.code, missing ? nullptr : in, c.in ? c.in - 1 : 0,
                                   missing ? nullptr : out, c.out ? c.out - 1 : 0, &returned,
                                   nullptr))
          << std::hex << c.code;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << std::hex << c.code;
      EXPECT_EQ(returned, 0u);
      for (uint8_t b : out) ASSERT_EQ(b, 0xA5) << std::hex << c.code;
    }
  }
  SetLastError(0);
  EXPECT_FALSE(DeviceIoControl(port, 0x1234, nullptr, 0, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // Values go in and out whole, also through buffers not aligned for them.
  alignas(8) uint8_t buffer[sizeof(DCB) + 1];
  const COMMTIMEOUTS sent{MAXDWORD, 7, 300, 2, 50};
  std::memcpy(buffer + 1, &sent, sizeof sent);
  ASSERT_TRUE(DeviceIoControl(port, IOCTL_SERIAL_SET_TIMEOUTS, buffer + 1, sizeof sent, nullptr,
                              0, nullptr, nullptr));
  COMMTIMEOUTS got{};
  ASSERT_TRUE(GetCommTimeouts(port, &got));
  EXPECT_EQ(std::memcmp(&got, &sent, sizeof got), 0);

  DCB state{};
  ASSERT_TRUE(GetCommState(port, &state));
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(port, IOCTL_SERIAL_GET_DCB, nullptr, 0, buffer + 1, sizeof(DCB),
                              &returned, nullptr));
  EXPECT_EQ(returned, sizeof(DCB));
  EXPECT_EQ(std::memcmp(buffer + 1, &state, sizeof state), 0);

  ASSERT_TRUE(DeviceIoControl(port, IOCTL_SERIAL_CLR_DTR, nullptr, 0, nullptr, 0, nullptr,
                              nullptr));
  handheld::SerialLines lines{};
  ASSERT_TRUE(handheld::GetSerialLines(port, &lines));
  EXPECT_FALSE(lines.dtr);
  EXPECT_TRUE(lines.rts);
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, APortHasOneUserAtATime) {
  HANDLE port = Open(u"com3:");  // names compare without regard to case
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  SetLastError(0);
  EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // Without read or write access the port's state can still be looked at.
  HANDLE watcher = Open(u"COM3:", 0);
  ASSERT_NE(watcher, INVALID_HANDLE_VALUE);
  DCB dcb{};
  EXPECT_TRUE(GetCommState(watcher, &dcb));
  char byte = 0;
  DWORD got = 0;
  EXPECT_FALSE(ReadFile(watcher, &byte, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(CloseHandle(watcher));

  EXPECT_TRUE(CloseHandle(port));
  port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(SerialPortTest, AHungUpDeviceFailsEveryCallAsARemovedDeviceAndStillClosesCleanly) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ApplyTimeouts(port, MAXDWORD, 100, 3000);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  peer_.CloseMaster();

  char byte = 0;
  DWORD got = 9;
  auto start = Clock::now();
  EXPECT_FALSE(ReadFile(port, &byte, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_REMOVED));
  EXPECT_EQ(got, 0u);
  EXPECT_LT(MsSince(start), 1000);
  ApplyTimeouts(port, MAXDWORD, 0, 0);
  EXPECT_FALSE(ReadFile(port, &byte, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_REMOVED));
  EXPECT_FALSE(WriteFile(port, "x", 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_REMOVED));

  // A wait for characters fails at once too, every time.
  for (int i = 0; i < 2; ++i) {
    DWORD mask = 9;
    start = Clock::now();
    EXPECT_FALSE(WaitCommEvent(port, &mask, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_REMOVED));
    EXPECT_EQ(mask, 0u);
    EXPECT_LT(MsSince(start), 1000);
  }
  EXPECT_TRUE(CloseHandle(port));
}

// A reader loop like a serial session's: wait for characters, read them one
// byte per call, until the handle is closed under it.
class SessionReader {
 public:
  explicit SessionReader(HANDLE port) : port_(port), thread_([this] { Run(); }) {}
  ~SessionReader() { thread_.join(); }

  std::string Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  void Run() {
    for (;;) {
      if (!SetCommMask(port_, EV_RXCHAR)) return;
      DWORD mask = 0;
      if (!WaitCommEvent(port_, &mask, nullptr)) {
        if (GetLastError() == static_cast<DWORD>(ERROR_INVALID_HANDLE)) return;
        continue;
      }
      if (!(mask & EV_RXCHAR)) continue;
      for (;;) {
        char byte = 0;
        DWORD got = 0;
        if (!ReadFile(port_, &byte, 1, &got, nullptr) || got != 1) break;
        std::lock_guard<std::mutex> lock(mutex_);
        received_ += byte;
      }
    }
  }

  HANDLE port_;
  std::mutex mutex_;
  std::string received_;
  std::thread thread_;
};

TEST_F(SerialPortTest, HundredsOfOpenReadCloseCyclesWithBytesFlowing) {
  for (int cycle = 0; cycle < 200; ++cycle) {
    HANDLE port = Open();
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << "cycle " << cycle << " error " << GetLastError();
    ApplyViewerSettings(port);
    ApplyTimeouts(port, MAXDWORD, 100, 3000);
    std::string expected;
    {
      SessionReader reader(port);
      expected = "$GPGSA,A,3," + std::to_string(cycle) + "*00\r\n";
      ASSERT_TRUE(peer_.Write(expected));
      const char reply = 'r';
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(port, &reply, 1, &written, nullptr));
      auto start = Clock::now();
      while (reader.Received().size() < expected.size() && MsSince(start) < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      EXPECT_EQ(reader.Received(), expected) << "cycle " << cycle;
      ASSERT_TRUE(CloseHandle(port));  // the reader ends by itself
    }
    ASSERT_EQ(peer_.Read(1, 2000).size(), 1u);
  }
}

}  // namespace
