#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SerialSession.h"
#include "handheld.h"
#include "testing/PtyPeer.h"
#include "testing/TempDevice.h"

namespace {

using handheld::testing::PtyPeer;
using handheld::testing::TempDevice;
using Clock = std::chrono::steady_clock;

std::string Utf8(LPCWSTR text) { return handheld::ToUtf8(text); }

// The rate of the session's live port, as the platform reports it.
DWORD LineRate(const SerialSession& session) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(session.PortHandle(), &dcb)) return 0;
  return dcb.BaudRate;
}

// Collects what a sink receives.
class Collector {
 public:
  static void Sink(BYTE value, void* context) { static_cast<Collector*>(context)->Add(value); }

  void Add(BYTE value) {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_.push_back(value);
    changed_.notify_all();
  }
  // Waits until `count` bytes arrived or `timeoutMs` passed.
  std::vector<BYTE> WaitFor(size_t count, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return bytes_.size() >= count; });
    return bytes_;
  }
  std::vector<BYTE> Bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<BYTE> bytes_;
};

// Records message boxes instead of showing them.
class MessageRecorder {
 public:
  MessageRecorder() {
    previous_ = handheld::SetMessageBoxPresenter([this](const handheld::MessageBoxRequest& box) {
      std::lock_guard<std::mutex> lock(mutex_);
      boxes_.push_back(box);
      return IDOK;
    });
  }
  ~MessageRecorder() { handheld::SetMessageBoxPresenter(previous_); }
  std::vector<handheld::MessageBoxRequest> Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }

 private:
  handheld::MessageBoxPresenter previous_;
  std::mutex mutex_;
  std::vector<handheld::MessageBoxRequest> boxes_;
};

size_t ThreadCount() {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    (void)entry;
    ++n;
  }
  return n;
}

// The platform's threads are detached: a thread has returned from its
// routine when its handle is signalled, and leaves the process a moment
// later. Waits (loosely) for the count to settle.
size_t ThreadsSettleTo(size_t expected) {
  auto deadline = Clock::now() + std::chrono::seconds(3);
  size_t n = ThreadCount();
  while (n != expected && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    n = ThreadCount();
  }
  return n;
}

// Bytes still waiting in the tty's input queue, not yet read by the port.
int Unread(const PtyPeer& peer) {
  int n = 0;
  ioctl(peer.slaveFd(), FIONREAD, &n);
  return n;
}

void WaitUntilDrained(const PtyPeer& peer) {
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (Unread(peer) > 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // The reader thread may still be between its read and its sink call.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// Writes a counting byte stream to the peer until stopped, without ever
// blocking: a port that is not being read simply lets the stream stall.
class Streamer {
 public:
  explicit Streamer(PtyPeer& peer) : fd_(peer.masterFd()) {
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
  }
  ~Streamer() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  size_t Written() const { return written_; }

 private:
  void Run() {
    while (!stop_) {
      BYTE chunk[32];
      for (size_t i = 0; i < sizeof chunk; ++i) chunk[i] = static_cast<BYTE>((written_ + i) % 251);
      pollfd p{fd_, POLLOUT, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      ssize_t n = write(fd_, chunk, sizeof chunk);
      if (n > 0) written_ += static_cast<size_t>(n);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  int fd_;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> written_{0};
  std::thread thread_;
};

class SerialSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.ok());
    device.AddSerialPort(u"COM3:", peer.slavePath());
    // A sanitizer starts a helper thread of its own with the first thread
    // created; have that happen before the tests count threads.
    std::thread([] {}).join();
  }

  TempDevice device;
  PtyPeer peer;
  MessageRecorder messages;
};

TEST_F(SerialSessionTest, ConstructionOpensNothingAndCloseThenReportsNothingHeld) {
  size_t threadsBefore = ThreadCount();
  auto session = std::make_unique<SerialSession>(u"COM3:", 57600);
  EXPECT_FALSE(session->IsOpen());
  EXPECT_EQ(Utf8(session->PortName()), "COM3:");
  EXPECT_EQ(session->BaudRate(), 57600u);
  EXPECT_EQ(ThreadsSettleTo(threadsBefore), threadsBefore);

  // Close on a session that never opened: false, and the sink is detached.
  Collector collector;
  session->SetByteSink(Collector::Sink, &collector);
  EXPECT_FALSE(session->Close());
  EXPECT_FALSE(session->IsOpen());

  ASSERT_TRUE(session->Reopen());
  ASSERT_TRUE(peer.Write("abc"));
  WaitUntilDrained(peer);
  EXPECT_TRUE(collector.Bytes().empty());
  EXPECT_TRUE(messages.Boxes().empty());
}

TEST_F(SerialSessionTest, LineSettingsLandOnTheTty) {
  // Start from settings that differ in every respect the session imposes,
  // left on the line by an earlier user of the port.
  {
    HANDLE earlier = CreateFile(u"COM3:", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(earlier, INVALID_HANDLE_VALUE);
    DCB before{};
    before.DCBlength = sizeof before;
    ASSERT_TRUE(GetCommState(earlier, &before));
    before.BaudRate = 9600;
    before.ByteSize = 7;
    before.Parity = EVENPARITY;
    before.StopBits = TWOSTOPBITS;
    before.fOutxCtsFlow = 1;
    before.fRtsControl = RTS_CONTROL_HANDSHAKE;
    before.fOutX = 1;
    before.fInX = 1;
    // Flow control characters of the port's own: the session leaves them be.
    before.XonChar = 0x05;
    before.XoffChar = 0x06;
    ASSERT_TRUE(SetCommState(earlier, &before));
    ASSERT_TRUE(CloseHandle(earlier));
  }

  SerialSession session(u"COM3:", 57600);
  ASSERT_TRUE(session.Reopen());
  EXPECT_TRUE(session.IsOpen());

  handheld::SerialLines lines{};
  ASSERT_TRUE(handheld::GetSerialLines(session.PortHandle(), &lines));
  EXPECT_TRUE(lines.dtr);
  EXPECT_TRUE(lines.rts);

  COMMTIMEOUTS timeouts{};
  ASSERT_TRUE(GetCommTimeouts(session.PortHandle(), &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 3000u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 1000u);

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(session.PortHandle(), &dcb));
  EXPECT_EQ(dcb.BaudRate, 57600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
  // All fifteen flags as the session sets them: binary, parity checking,
  // DTR and RTS enabled, transmission going on after XOFF, nothing else.
  DWORD flags = 0;
  std::memcpy(&flags, reinterpret_cast<const BYTE*>(&dcb) + 2 * sizeof(DWORD), sizeof flags);
  EXPECT_EQ(flags & 0x7FFFu, 0x1093u);
  // What the session does not set stays as the port reported it.
  EXPECT_EQ(dcb.XonLim, 512);
  EXPECT_EQ(dcb.XoffLim, 128);
  EXPECT_EQ(dcb.XonChar, 0x05);
  EXPECT_EQ(dcb.XoffChar, 0x06);
  EXPECT_TRUE(messages.Boxes().empty());
}

TEST_F(SerialSessionTest, EveryByteReachesTheSinkOnceAndInOrder) {
  SerialSession session(u"COM3:", 57600);
  Collector collector;
  session.SetByteSink(Collector::Sink, &collector);
  ASSERT_TRUE(session.Reopen());

  // Every byte value, the line and flow control characters among them.
  std::vector<uint8_t> sent;
  for (int i = 0; i < 4096; ++i) sent.push_back(static_cast<uint8_t>((i * 37 + i / 256) & 0xFF));
  for (size_t at = 0; at < sent.size(); at += 512) {
    ASSERT_TRUE(peer.Write(std::vector<uint8_t>(sent.begin() + at, sent.begin() + at + 512)));
    std::this_thread::sleep_for(std::chrono::milliseconds(at % 1024 == 0 ? 20 : 0));
  }
  std::vector<BYTE> got = collector.WaitFor(sent.size());
  ASSERT_EQ(got.size(), sent.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), sent.begin()));

  // Nothing is delivered twice.
  WaitUntilDrained(peer);
  EXPECT_EQ(collector.Bytes().size(), sent.size());
  EXPECT_TRUE(session.Close());
}

TEST_F(SerialSessionTest, WriteByteReachesThePeerWhileTheReaderWaits) {
  SerialSession session(u"COM3:", 57600);
  ASSERT_TRUE(session.Reopen());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reader thread now waits
  std::string sentence = "$PSRF100,0,9600,8,1,0*0C\r\n";
  for (char c : sentence) session.WriteByte(static_cast<BYTE>(c));
  std::vector<uint8_t> got = peer.Read(sentence.size(), 5000);
  EXPECT_EQ(std::string(got.begin(), got.end()), sentence);
}

TEST_F(SerialSessionTest, BytesWithoutASinkAreDroppedAndLaterOnesGoToTheNewSink) {
  SerialSession session(u"COM3:", 57600);
  ASSERT_TRUE(session.Reopen());
  ASSERT_TRUE(peer.Write("lost"));
  WaitUntilDrained(peer);

  Collector collector;
  session.SetByteSink(Collector::Sink, &collector);
  ASSERT_TRUE(peer.Write("kept"));
  std::vector<BYTE> got = collector.WaitFor(4);
  EXPECT_EQ(std::string(got.begin(), got.end()), "kept");
  WaitUntilDrained(peer);
  EXPECT_EQ(collector.Bytes().size(), 4u);
}

// Two sinks take turns while a stream flows. Every byte is delivered exactly
// once, in order, and a sink replaced or cleared is never called again.
struct TurnSink {
  std::mutex* logMutex;
  std::vector<BYTE>* log;
  std::atomic<bool> retired{false};
  std::atomic<int> callsAfterRetired{0};
  std::atomic<int> calls{0};
  static void Sink(BYTE value, void* context) {
    auto* self = static_cast<TurnSink*>(context);
    if (self->retired) ++self->callsAfterRetired;
    ++self->calls;
    std::lock_guard<std::mutex> lock(*self->logMutex);
    self->log->push_back(value);
  }
};

TEST_F(SerialSessionTest, SinksCanBeSwappedWhileBytesFlow) {
  std::mutex logMutex;
  std::vector<BYTE> log;
  TurnSink a, b;
  a.logMutex = b.logMutex = &logMutex;
  a.log = b.log = &log;

  SerialSession session(u"COM3:", 57600);
  session.SetByteSink(TurnSink::Sink, &a);
  ASSERT_TRUE(session.Reopen());

  const size_t total = 6000;
  std::thread writer([&] {
    for (size_t at = 0; at < total; at += 20) {
      std::vector<uint8_t> chunk;
      for (size_t i = at; i < at + 20; ++i) chunk.push_back(static_cast<uint8_t>(i % 251));
      peer.Write(chunk);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });

  TurnSink* current = &a;
  TurnSink* other = &b;
  for (int swap = 0; swap < 60; ++swap) {
    other->retired = false;
    session.SetByteSink(TurnSink::Sink, other);
    current->retired = true;  // SetByteSink has returned: the old sink is done
    std::swap(current, other);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  writer.join();

  auto deadline = Clock::now() + std::chrono::seconds(10);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(logMutex);
      if (log.size() >= total || Clock::now() > deadline) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  session.ClearByteSink();
  current->retired = true;
  ASSERT_TRUE(peer.Write(std::string(200, 'x')));
  WaitUntilDrained(peer);

  std::lock_guard<std::mutex> lock(logMutex);
  ASSERT_EQ(log.size(), total);
  for (size_t i = 0; i < total; ++i) ASSERT_EQ(log[i], i % 251) << "byte " << i;
  EXPECT_EQ(a.callsAfterRetired, 0);
  EXPECT_EQ(b.callsAfterRetired, 0);
  EXPECT_GT(a.calls, 0);
  EXPECT_GT(b.calls, 0);
}

TEST_F(SerialSessionTest, CloseEndsTheWaitingReaderThreadPromptly) {
  size_t threadsBefore = ThreadCount();
  SerialSession session(u"COM3:", 57600);
  ASSERT_TRUE(session.Reopen());
  EXPECT_EQ(ThreadsSettleTo(threadsBefore + 1), threadsBefore + 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // waiting for characters

  auto start = Clock::now();
  EXPECT_TRUE(session.Close());
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  // The thread has ended when Close returns. The limit is loose on purpose:
  // it only catches a Close that waits for a read time-out (3 s) instead of
  // ending the pending wait.
  EXPECT_LT(took.count(), 1500);
  EXPECT_EQ(ThreadsSettleTo(threadsBefore), threadsBefore);
  EXPECT_FALSE(session.IsOpen());
  EXPECT_FALSE(session.Close());
}

// Context switches of a thread of this process; 0 once it has ended.
long Wakeups(const std::string& tid) {
  std::ifstream status("/proc/self/task/" + tid + "/status");
  std::string line;
  long total = 0;
  while (std::getline(status, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
      total += std::stol(line.substr(line.find(':') + 1));
  }
  return total;
}

std::set<std::string> ThreadIds() {
  std::set<std::string> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ids.insert(entry.path().filename().string());
  return ids;
}

TEST_F(SerialSessionTest, AReceiverThatGoesAwayClosesTheSessionQuietlyAndReconnectOpensItAgain) {
  // The port names its device by a link, so that the receiver can come back
  // as a new device under the same name.
  const std::string link = device.path() + "/receiver";
  ASSERT_EQ(symlink(peer.slavePath().c_str(), link.c_str()), 0);
  device.AddSerialPort(u"COM5:", link, u"Drivers\\Tessiv\\0100\\0005");
  const std::set<std::string> before = ThreadIds();
  SerialSession session(u"COM5:", 57600);
  ASSERT_TRUE(session.Reopen());
  std::set<std::string> started;
  for (const std::string& id : ThreadIds())
    if (!before.count(id)) started.insert(id);

  peer.CloseMaster();
  auto deadline = Clock::now() + std::chrono::seconds(3);
  while (session.IsOpen() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(session.IsOpen());
  // Meanwhile its reader thread neither spins nor keeps waking up.
  long wakeups = 0;
  for (const std::string& id : started) wakeups -= Wakeups(id);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  for (const std::string& id : started) wakeups += Wakeups(id);
  EXPECT_LT(wakeups, 10);
  EXPECT_TRUE(messages.Boxes().empty());

  PtyPeer back;
  ASSERT_TRUE(back.ok());
  ASSERT_EQ(unlink(link.c_str()), 0);
  ASSERT_EQ(symlink(back.slavePath().c_str(), link.c_str()), 0);
  Collector collector;
  session.SetByteSink(Collector::Sink, &collector);
  ASSERT_TRUE(session.Reopen());
  ASSERT_TRUE(back.Write("again"));
  std::vector<BYTE> got = collector.WaitFor(5);
  EXPECT_EQ(std::string(got.begin(), got.end()), "again");
  EXPECT_TRUE(session.Close());
}

TEST_F(SerialSessionTest, ReopenUsesTheStoredNameAndTheConstructorsRate) {
  PtyPeer second;
  ASSERT_TRUE(second.ok());
  device.AddSerialPort(u"COM4:", second.slavePath());

  size_t threadsBefore = ThreadCount();
  SerialSession session(u"COM3:", 57600);
  Collector collector;
  session.SetByteSink(Collector::Sink, &collector);
  ASSERT_TRUE(session.Reopen());
  session.SetBaudRate(19200);
  EXPECT_EQ(session.BaudRate(), 57600u);
  EXPECT_TRUE(session.Close());

  session.SetPortName(u"COM4:");
  EXPECT_EQ(Utf8(session.PortName()), "COM4:");
  ASSERT_TRUE(session.Reopen());
  EXPECT_EQ(ThreadsSettleTo(threadsBefore + 1), threadsBefore + 1);
  session.SetByteSink(Collector::Sink, &collector);

  EXPECT_EQ(LineRate(session), 57600u);

  ASSERT_TRUE(peer.Write("old"));
  ASSERT_TRUE(second.Write("new"));
  std::vector<BYTE> got = collector.WaitFor(3);
  EXPECT_EQ(std::string(got.begin(), got.end()), "new");
  WaitUntilDrained(second);
  EXPECT_EQ(collector.Bytes().size(), 3u);
  EXPECT_TRUE(messages.Boxes().empty());
}

TEST_F(SerialSessionTest, SetBaudRateChangesOnlyTheLivePort) {
  SerialSession session(u"COM3:", 57600);
  session.SetBaudRate(9600);  // closed: nothing happens, nothing is shown
  EXPECT_TRUE(messages.Boxes().empty());
  EXPECT_EQ(session.BaudRate(), 57600u);

  ASSERT_TRUE(session.Reopen());
  session.SetBaudRate(9600);
  EXPECT_EQ(LineRate(session), 9600u);
  EXPECT_EQ(session.BaudRate(), 57600u);
  EXPECT_TRUE(messages.Boxes().empty());

  // A rate the port cannot take is always reported, and the line keeps its
  // speed.
  session.SetBaudRate(12345);
  auto boxes = messages.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(Utf8(boxes[0].text.c_str()), "Unable to set baud rate");
  EXPECT_EQ(Utf8(boxes[0].caption.c_str()), "Error");
  EXPECT_EQ(boxes[0].type, MB_OK);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(LineRate(session), 9600u);
  EXPECT_EQ(session.BaudRate(), 57600u);

  EXPECT_TRUE(session.Close());
  ASSERT_TRUE(session.Reopen());
  EXPECT_EQ(LineRate(session), 57600u);
}

TEST_F(SerialSessionTest, MissingPortShowsTheNameAndTheErrorCode) {
  // The code the platform gives for this port.
  HANDLE probe = CreateFile(u"COM9:", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_EQ(probe, INVALID_HANDLE_VALUE);
  DWORD expected = GetLastError();
  ASSERT_NE(expected, 0u);

  size_t threadsBefore = ThreadCount();
  SerialSession session(u"COM9:", 57600);
  EXPECT_FALSE(session.Reopen());
  EXPECT_FALSE(session.IsOpen());
  EXPECT_EQ(ThreadsSettleTo(threadsBefore), threadsBefore);

  auto boxes = messages.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(Utf8(boxes[0].text.c_str()), "  Unable to open the port COM9:, Last Error " + std::to_string(expected));
  EXPECT_EQ(Utf8(boxes[0].caption.c_str()), "Error");
  EXPECT_EQ(boxes[0].type, MB_OK);
  EXPECT_EQ(boxes[0].owner, nullptr);

  // Closed, not half-open: there is no handle to close.
  EXPECT_FALSE(session.Close());

  // Without reporting, nothing is shown.
  EXPECT_FALSE(session.Open(u"COM9:", FALSE));
  EXPECT_EQ(messages.Boxes().size(), 1u);
}

// Makes a file on the handheld's file system: a name the platform opens,
// but not a serial port, so applying line settings to it fails.
void MakeDeviceFile(const std::u16string& devicePath) {
  std::filesystem::path host = handheld::HostPath(devicePath);
  std::filesystem::create_directories(host.parent_path());
  FILE* f = fopen(host.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
}

TEST_F(SerialSessionTest, NameTooLongIsNeverOpenedCutShort) {
  // The first 19 characters of the long name name something that opens.
  const std::u16string cut = u"\\Temp\\port-name.bin";
  ASSERT_EQ(cut.size(), static_cast<size_t>(SerialSession::kPortNameChars));
  const std::u16string longName = cut + u".old";
  MakeDeviceFile(cut);
  {
    SerialSession direct(cut.c_str(), 57600);
    direct.Reopen();
    ASSERT_NE(direct.PortHandle(), INVALID_HANDLE_VALUE) << "the cut name must open";
  }
  size_t shown = messages.Boxes().size();

  SerialSession session(longName.c_str(), 57600);
  EXPECT_EQ(std::u16string(session.PortName()), cut);
  EXPECT_FALSE(session.Reopen());
  EXPECT_EQ(session.PortHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(session.IsOpen());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));

  EXPECT_FALSE(session.Open(longName.c_str(), TRUE));
  EXPECT_EQ(session.PortHandle(), INVALID_HANDLE_VALUE);

  auto boxes = messages.Boxes();
  ASSERT_EQ(boxes.size(), shown + 2);
  EXPECT_EQ(Utf8(boxes[shown].text.c_str()), "  Unable to open the port " + Utf8(cut.c_str()) + ", Last Error 123");
  EXPECT_EQ(Utf8(boxes[shown].caption.c_str()), "Error");
  EXPECT_EQ(Utf8(boxes[shown + 1].text.c_str()),
            "  Unable to open the port " + Utf8(longName.c_str()) + ", Last Error 123");
  EXPECT_FALSE(session.Close());

  // A fitting name given later opens.
  session.SetPortName(u"COM3:");
  EXPECT_TRUE(session.Reopen());
  EXPECT_TRUE(session.Close());

  // Very long names are bounded in the message, too.
  std::u16string huge(5000, u'A');
  session.SetPortName(huge.c_str());
  EXPECT_FALSE(session.Reopen());
  EXPECT_FALSE(session.Open(huge.c_str(), TRUE));
  boxes = messages.Boxes();
  ASSERT_EQ(boxes.size(), shown + 4);
  EXPECT_EQ(Utf8(boxes[shown + 2].text.c_str()), "  Unable to open the port AAAAAAAAAAAAAAAAAAA, Last Error 123");
  EXPECT_LT(boxes[shown + 3].text.size(), 1024u);
}

TEST_F(SerialSessionTest, HalfOpenSessionIsClosedByClose) {
  // A name that opens but takes no line settings.
  MakeDeviceFile(u"\\Temp\\plain.bin");
  size_t threadsBefore = ThreadCount();
  SerialSession session(u"\\Temp\\plain.bin", 57600);
  EXPECT_FALSE(session.Reopen());
  EXPECT_FALSE(session.IsOpen());
  EXPECT_NE(session.PortHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ThreadsSettleTo(threadsBefore), threadsBefore);
  auto boxes = messages.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(Utf8(boxes[0].text.c_str()), "Unable to configure serial port");
  EXPECT_EQ(Utf8(boxes[0].caption.c_str()), "Error");

  // Opening again replaces the half-open handle: the earlier one is closed
  // first, so the file (opened without sharing) opens again.
  EXPECT_FALSE(session.Reopen());
  EXPECT_EQ(messages.Boxes().size(), 2u);
  EXPECT_EQ(Utf8(messages.Boxes()[1].text.c_str()), "Unable to configure serial port");

  EXPECT_TRUE(session.Close());
  EXPECT_EQ(session.PortHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(session.Close());
}

// A sink may close its own session: Close must not wait for the thread it
// runs on, and the next Close or Reopen on the UI thread ends that thread.
struct ClosingSink {
  SerialSession* session;
  std::atomic<int> calls{0};
  std::atomic<int> closeResult{-1};
  static void Sink(BYTE, void* context) {
    auto* self = static_cast<ClosingSink*>(context);
    if (++self->calls == 1) self->closeResult = self->session->Close();
  }
};

TEST_F(SerialSessionTest, CloseFromInsideTheSinkDoesNotWaitForItself) {
  size_t threadsBefore = ThreadCount();
  auto session = std::make_unique<SerialSession>(u"COM3:", 57600);
  ClosingSink sink;
  sink.session = session.get();
  session->SetByteSink(ClosingSink::Sink, &sink);
  ASSERT_TRUE(session->Reopen());
  ASSERT_TRUE(peer.Write("abcdef"));

  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (sink.closeResult == -1 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(sink.closeResult, TRUE);
  EXPECT_FALSE(session->IsOpen());

  Collector collector;
  ASSERT_TRUE(session->Reopen());
  WaitUntilDrained(peer);  // the rest of "abcdef" goes to no sink
  session->SetByteSink(Collector::Sink, &collector);
  ASSERT_TRUE(peer.Write("xyz"));
  std::vector<BYTE> got = collector.WaitFor(3);
  EXPECT_EQ(std::string(got.begin(), got.end()), "xyz");
  EXPECT_EQ(ThreadsSettleTo(threadsBefore + 1), threadsBefore + 1);
  session.reset();
  EXPECT_EQ(ThreadsSettleTo(threadsBefore), threadsBefore);
  EXPECT_EQ(sink.calls, 1);
}

// A sink that closes and reopens its session: the thread it runs on goes on
// serving the reopened port, so there is still exactly one reader thread.
struct ReopeningSink {
  SerialSession* session;
  Collector* collector;
  std::atomic<int> reopenResult{-1};
  static void Sink(BYTE value, void* context) {
    auto* self = static_cast<ReopeningSink*>(context);
    if (self->reopenResult == -1) {
      self->session->Close();
      self->reopenResult = self->session->Reopen();
      self->session->SetByteSink(Collector::Sink, self->collector);
      return;
    }
    self->collector->Add(value);
  }
};

TEST_F(SerialSessionTest, ReopenFromInsideTheSinkKeepsOneReaderThread) {
  size_t threadsBefore = ThreadCount();
  Collector collector;
  {
    SerialSession session(u"COM3:", 57600);
    ReopeningSink sink;
    sink.session = &session;
    sink.collector = &collector;
    session.SetByteSink(ReopeningSink::Sink, &sink);
    ASSERT_TRUE(session.Reopen());
    ASSERT_TRUE(peer.Write("!"));
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (sink.reopenResult == -1 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(sink.reopenResult, TRUE);
    EXPECT_TRUE(session.IsOpen());

    ASSERT_TRUE(peer.Write("after"));
    std::vector<BYTE> got = collector.WaitFor(5);
    EXPECT_EQ(std::string(got.begin(), got.end()), "after");
    EXPECT_EQ(ThreadsSettleTo(threadsBefore + 1), threadsBefore + 1);
  }
  EXPECT_EQ(ThreadsSettleTo(threadsBefore), threadsBefore);
}

// Sessions are opened, closed and destroyed over and over while bytes
// flow. A sink called after its session is gone, or a reader thread left
// behind, shows up here (and under the sanitizers).
struct GuardedSink {
  static constexpr uint32_t kAlive = 0x5E551011;
  uint32_t magic = kAlive;
  std::atomic<int> bytes{0};
  std::atomic<int> afterDeath{0};
  static void Sink(BYTE, void* context) {
    auto* self = static_cast<GuardedSink*>(context);
    if (self->magic != kAlive) ++self->afterDeath;
    ++self->bytes;
  }
};

TEST_F(SerialSessionTest, ManyOpenCloseAndDestroyCyclesWithBytesFlowing) {
  size_t threadsBefore = ThreadCount();
  Streamer streamer(peer);
  std::atomic<int> afterDeath{0};
  int delivered = 0;
  for (int cycle = 0; cycle < 300; ++cycle) {
    auto sink = std::make_unique<GuardedSink>();
    auto session = std::make_unique<SerialSession>(u"COM3:", 57600);
    session->SetByteSink(GuardedSink::Sink, sink.get());
    ASSERT_TRUE(session->Reopen()) << "cycle " << cycle;
    if (cycle % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    switch (cycle % 3) {
      case 0:  // destroyed while open
        session.reset();
        break;
      case 1:  // closed, then destroyed
        EXPECT_TRUE(session->Close());
        session.reset();
        break;
      case 2:  // closed, reopened, destroyed
        EXPECT_TRUE(session->Close());
        session->SetByteSink(GuardedSink::Sink, sink.get());
        ASSERT_TRUE(session->Reopen());
        session->WriteByte('!');
        session.reset();
        break;
    }
    sink->magic = 0;
    afterDeath += sink->afterDeath;
    delivered += sink->bytes;
  }
  streamer.Stop();
  EXPECT_EQ(afterDeath, 0);
  EXPECT_GT(delivered, 0);
  EXPECT_EQ(ThreadsSettleTo(threadsBefore), threadsBefore);
  EXPECT_TRUE(messages.Boxes().empty());
}

}  // namespace
