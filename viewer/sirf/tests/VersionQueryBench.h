// The version query's test bench: the viewer connected to a receiver on a
// pseudo-terminal the way the main window connects at start-up, every
// message box recorded together with the readers that existed while it was
// up (a timer tick may run then), and the session's sink compared with
// those readers.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "BinaryReader.h"
#include "FindReceiverPort.h"
#include "NmeaReader.h"
#include "ReceiverReaders.h"
#include "ReceiverVersionQuery.h"
#include "SerialSession.h"
#include "handheld.h"
#include "testing/TempDevice.h"

namespace receiver_test {

inline const UINT kErrorStyle = MB_OK | MB_TOPMOST | MB_SETFOREGROUND;
inline const char16_t kCommsError[] = u"Failed to get NMEA data\r\nSleeve Comms Error\r\nContact Dovrin Support.";
inline const char16_t kNotIntoBinary[] = u"Failed to go into Sirf Binary";
inline const char16_t kNotRestored[] = u"Failed to restore NMEA, Run this program again";

// True when at most one reader exists and the session feeds exactly that
// one (or nothing when there is none).
inline bool SinkIsTheOneReader(const ReceiverReaders& readers) {
  const SerialSession* session = readers.session;
  if (session == nullptr) return false;
  // Looked at from the UI thread, the only thread that sets the sink.
  const ByteSink sink = session->Sink();
  void* context = session->SinkContext();
  if (readers.currentReader != nullptr && readers.binaryReader != nullptr) return false;
  if (readers.currentReader != nullptr)
    return sink == &NmeaReader::OnByte && context == readers.currentReader;
  if (readers.binaryReader != nullptr)
    return sink == &BinaryReader::OnByte && context == readers.binaryReader;
  return sink == nullptr && context == nullptr;
}

struct ShownBox {
  HWND owner;
  std::u16string text;
  std::u16string caption;
  UINT type;
  bool hadCurrentReader;
  bool hadBinaryReader;
  bool sinkWasTheOneReader;
  DWORD afterMs;  // since the query began
};

class VersionQueryBench : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = handheld::SetMessageBoxPresenter([this](const handheld::MessageBoxRequest& request) {
      boxes.push_back({request.owner, request.text, request.caption, request.type,
                       readers.currentReader != nullptr, readers.binaryReader != nullptr,
                       SinkIsTheOneReader(readers), GetTickCount() - queryStart});
      return IDOK;
    });
  }

  void TearDown() override {
    readers.DeleteSession();
    handheld::SetMessageBoxPresenter(previous_);
  }

  // Lists `devicePath` as the sleeve's port, finds it again and opens the
  // session on it with a sentence reader attached.
  void Connect(const std::string& devicePath) {
    device_.AddSerialPort(u"COM3:", devicePath);
    WCHAR port[25];
    FindReceiverPort(port, sizeof port);
    ASSERT_EQ(std::u16string(port), u"COM3:");
    readers.session = new SerialSession(port, 57600);
    ASSERT_TRUE(readers.CreateCurrentReader());
    ASSERT_TRUE(readers.session->Reopen());
  }

  // Runs the query on a buffer that starts out dirty; queryMs gets its
  // length.
  std::u16string Query() {
    WCHAR text[kReceiverVersionChars];
    text[0] = u'?';
    text[1] = 0;
    queryStart = GetTickCount();
    ReadReceiverVersion(readers, text);
    queryMs = GetTickCount() - queryStart;
    return text;
  }

  // One box was shown, with the caption and flags of an error, no owner,
  // and while it was up only the reader named existed and was the sink.
  void ExpectOneBox(const std::u16string& text, bool withSentenceReader) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[0].type, kErrorStyle);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].hadCurrentReader, withSentenceReader);
    EXPECT_EQ(boxes[0].hadBinaryReader, !withSentenceReader);
    EXPECT_TRUE(boxes[0].sinkWasTheOneReader);
  }

  // The query ended with a sentence reader made after the NMEA it had read
  // before: nothing decoded into it yet, and it alone is the sink.
  void ExpectFreshSentenceReader() {
    ASSERT_NE(readers.currentReader, nullptr);
    EXPECT_EQ(readers.binaryReader, nullptr);
    EXPECT_TRUE(SinkIsTheOneReader(readers));
    const NmeaReader& reader = *readers.currentReader;
    EXPECT_EQ(reader.Gga().count, 0);
    EXPECT_EQ(reader.Gsa().count, 0);
    EXPECT_EQ(reader.Gsv().count, 0);
    EXPECT_EQ(reader.Rmc().count, 0);
    EXPECT_EQ(reader.Swv().count, 0);
  }

  // Waits for a sentence to reach the current reader.
  bool ReaderHearsNmea(int withinMs = 3000) {
    for (int waited = 0; waited < withinMs; waited += 20) {
      if (readers.currentReader != nullptr && readers.currentReader->HasSentence()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // The session and readers the query works on, as a program keeps them.
  SerialSession* session = nullptr;
  NmeaReader* currentReader = nullptr;
  BinaryReader* binaryReader = nullptr;
  ReceiverReaders readers{session, currentReader, binaryReader};

  std::vector<ShownBox> boxes;
  DWORD queryStart = 0;
  DWORD queryMs = 0;

 private:
  handheld::testing::TempDevice device_;
  handheld::MessageBoxPresenter previous_;
};

}  // namespace receiver_test
