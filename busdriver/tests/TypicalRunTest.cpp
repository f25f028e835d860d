// The typical run, end to end in one process: the device manager starts the
// bus driver from its built-in key, the GPS sleeve slides on, the bus driver
// loads the sleeve's client serial driver, the viewer's port search finds
// its port and a serial session receives the receiver's bytes over it; the
// sleeve comes off and the client goes.
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "BusDriverTesting.h"
#include "FindReceiverPort.h"
#include "SerialSession.h"

namespace bustest {
namespace {

struct Received {
  std::mutex mutex;
  std::string bytes;
  static void Sink(BYTE value, void* context) {
    auto* self = static_cast<Received*>(context);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->bytes.push_back(static_cast<char>(value));
  }
  std::string Bytes() {
    std::lock_guard<std::mutex> lock(mutex);
    return bytes;
  }
};

TEST_F(BusDriverTest, TypicalRun) {
  std::vector<ActiveRecord> records = ActiveRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].name, u"OPT1:");

  ASSERT_TRUE(InsertAndWaitForClient(kGpsSleeve, kGpsKey));
  EXPECT_EQ(Clients()[0].name, u"COM3:");
  EXPECT_TRUE(handheld::GetSleeveState().powered);

  WCHAR port[25];
  EXPECT_TRUE(FindReceiverPort(port, sizeof port));
  EXPECT_EQ(std::u16string(port), u"COM3:");
  const std::string sentence = "$GPGGA,120000.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,,,*1C\r\n";
  {
    SerialSession session(port, CBR_57600);
    Received received;
    session.SetByteSink(&Received::Sink, &received);
    ASSERT_TRUE(session.Open(port, FALSE));
    ASSERT_TRUE(peer_.Write(sentence));
    EXPECT_TRUE(WaitUntil([&] { return received.Bytes().size() >= sentence.size(); }, 5000));
    EXPECT_EQ(received.Bytes(), sentence);
    session.WriteByte('$');
    EXPECT_EQ(peer_.Read(1, 2000), std::vector<uint8_t>{'$'});
    EXPECT_TRUE(session.Close());
  }

  handheld::RemoveSleeve();
  EXPECT_TRUE(WaitUntil([] { return Clients().empty(); }, 3000));
  EXPECT_FALSE(FindReceiverPort(port, sizeof port));
  EXPECT_TRUE(StopBusDriver());
}

}  // namespace
}  // namespace bustest
