// The simulator driven by gpsd, an independent client that probes it,
// switches it to SiRF binary, polls it, moves its line rate and brings it
// back to NMEA: gpsd runs on the simulator's pseudo-terminal with a private
// control socket and a free loopback port, and this test reads its JSON
// reports (with the raw packets it received) from that port.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "ReceiverSimHarness.h"

using namespace simtest;

namespace {

const char* kBase = "GSW3.2.4_3.1.00.12-SDK003P1.00a";
const char* kMaker = "Dovrin GPS Sleeve 2.1";
const double kLatitude = 50.0;
const double kLongitude = 5.0;
const double kAltitude = 100.0;
// EGM96 puts the geoid 46.71 m above the ellipsoid at 50 N 5 E.
const double kGeoid = 46.71;
// Four satellites in the fix and one in view without a signal.
const char* kSatellites = "3:72:41:44,6:55:282:42,9:38:131:40,17:64:191:45,31:8:24:0";
const std::set<int> kUsed{3, 6, 9, 17};

std::string Program(const std::string& name) {
  for (const char* folder : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"}) {
    if (std::filesystem::exists(std::string(folder) + name)) return folder + name;
  }
  return "";
}

// A free TCP port on the loopback address (free when asked).
int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  int port = -1;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

// The text of "name":"..." or the number of "name":N in a JSON report.
std::string Text(const std::string& line, const std::string& name) {
  size_t at = line.find("\"" + name + "\":\"");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  return line.substr(at, line.find('"', at) - at);
}
bool Number(const std::string& line, const std::string& name, double& value) {
  size_t at = line.find("\"" + name + "\":");
  if (at == std::string::npos) return false;
  value = std::atof(line.c_str() + at + name.size() + 3);
  return true;
}

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// gpsd's client port: commands out, report lines in.
class GpsdClient {
 public:
  ~GpsdClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool Connect(int port, int timeoutMs) {
    for (auto end = Clock::now() + std::chrono::milliseconds(timeoutMs); Clock::now() < end;) {
      fd_ = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return true;
      close(fd_);
      fd_ = -1;
      usleep(50000);
    }
    return false;
  }
  void Send(const std::string& command) {
    ASSERT_EQ(write(fd_, command.data(), command.size()), static_cast<ssize_t>(command.size()));
  }
  // The next line, or "" when none came in time.
  std::string Line(Clock::time_point deadline) {
    for (;;) {
      size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return "";
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char chunk[4096];
      ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};

class ReceiverSimGpsd : public ::testing::Test {
 protected:
  void SetUp() override {
    gpsd_ = Program("gpsd");
    if (gpsd_.empty())
      GTEST_SKIP() << "gpsd is not installed (scripts/install-deps.sh installs gpsd and gpsd-clients)";
    char pattern[] = "/tmp/receiver-sim-gpsd-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    if (daemon_) daemon_->Stop(SIGTERM, 3000);
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }

  // gpsd in the foreground on the device, its control socket in the private
  // folder and its client port free on the loopback address; watched in
  // JSON (with `extra` watch settings).
  void StartGpsd(const std::string& device, const std::string& extra) {
    const int port = FreePort();
    ASSERT_GT(port, 0);
    daemon_ = std::make_unique<testsupport::ChildProcess>(
        gpsd_, std::vector<std::string>{"-N", "-n", "-F", folder_ + "/control", "-S",
                                        std::to_string(port), device});
    ASSERT_TRUE(client_.Connect(port, 5000)) << daemon_->Errors();
    client_.Send("?WATCH={\"enable\":true,\"json\":true" + extra + "};");
  }

  // Reads reports until `done` holds for one, up to `seconds`; every TPV
  // and SKY report and every raw packet is kept on the way.
  bool ReadUntil(double seconds, const std::function<bool(const std::string&)>& done) {
    auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    for (;;) {
      std::string line = client_.Line(deadline);
      if (line.empty()) return false;
      if (line.rfind("a0a2", 0) == 0) frames_.push_back(FromHex(line));
      if (line.find("\"class\":\"TPV\"") != std::string::npos) tpv_.push_back(line);
      if (line.find("\"class\":\"SKY\"") != std::string::npos && line.find("\"uSat\"") != std::string::npos)
        sky_.push_back(line);
      if (line.find("\"class\":\"DEVICE\"") != std::string::npos) devices_.push_back(line);
      if (done(line)) return true;
    }
  }

  // Waits for `count` 3-D fixes from now on and checks each: one a second,
  // at the simulated place.
  void ExpectFixesEverySecond(int count, double seconds) {
    size_t first = tpv_.size();
    auto fixes = [&] {
      int n = 0;
      for (size_t i = first; i < tpv_.size(); ++i) n += !Text(tpv_[i], "time").empty();
      return n;
    };
    ASSERT_TRUE(ReadUntil(seconds, [&](const std::string&) { return fixes() >= count; }))
        << fixes() << " fixes";
    int previous = -1;
    for (size_t i = first; i < tpv_.size(); ++i) {
      const std::string& tpv = tpv_[i];
      std::string time = Text(tpv, "time");  // 2026-03-14T09:MM:SS.000Z
      if (time.empty()) continue;
      SCOPED_TRACE(tpv);
      double mode = 0, lat = 0, lon = 0, hae = 0;
      EXPECT_TRUE(Number(tpv, "mode", mode) && mode == 3);
      ASSERT_TRUE(Number(tpv, "lat", lat) && Number(tpv, "lon", lon));
      EXPECT_NEAR(lat, kLatitude, 1e-5);
      EXPECT_NEAR(lon, kLongitude, 1e-5);
      // Message 2 carries whole metres.
      ASSERT_TRUE(Number(tpv, "altHAE", hae));
      EXPECT_NEAR(hae, kAltitude + kGeoid, 1.0);
      int second = std::atoi(time.substr(14, 2).c_str()) * 60 + std::atoi(time.substr(17, 2).c_str());
      if (previous >= 0) {
        EXPECT_EQ(second, previous + 1);
      }
      previous = second;
    }
  }

  void ExpectSatellites() {
    ASSERT_FALSE(sky_.empty());
    const std::string& sky = sky_.back();
    SCOPED_TRACE(sky);
    double used = 0;
    ASSERT_TRUE(Number(sky, "uSat", used));
    EXPECT_EQ(used, static_cast<double>(kUsed.size()));
    for (int prn : kUsed) {
      std::string entry = "\"PRN\":" + std::to_string(prn) + ",";
      size_t at = sky.find(entry);
      ASSERT_NE(at, std::string::npos) << prn;
      EXPECT_NE(sky.substr(at, sky.find('}', at) - at).find("\"used\":true"), std::string::npos) << prn;
    }
  }

  std::string Devices() const {
    std::string all;
    for (const auto& d : devices_) all += d + "\n";
    return all;
  }

  std::string gpsd_;
  std::string folder_;
  std::unique_ptr<testsupport::ChildProcess> daemon_;
  GpsdClient client_;
  std::vector<std::string> tpv_, sky_, devices_;
  std::vector<Bytes> frames_;
};

}  // namespace

TEST_F(ReceiverSimGpsd, IdentifiesPollsMovesTheRateAndReturnsToNmea) {
  SimProcess sim;
  ASSERT_TRUE(sim.Launch(Args({"--lat", "50", "--lon", "5", "--alt", "100", "--satellites",
                               kSatellites, "--base-version", kBase, "--maker-version", kMaker})));
  ASSERT_NO_FATAL_FAILURE(StartGpsd(sim.path(), ",\"raw\":1"));

  // Identified as SiRF with the simulator's version, then fixes in binary.
  auto identified = [](const std::string& line) {
    return Text(line, "driver") == "SiRF" && !Text(line, "subtype").empty();
  };
  ASSERT_TRUE(ReadUntil(15, identified)) << daemon_->Errors();
  ExpectFixesEverySecond(5, 10);
  ExpectSatellites();
  for (const std::string& device : devices_) {
    std::string subtype = Text(device, "subtype");
    if (!subtype.empty()) {
      EXPECT_TRUE(subtype == kBase || subtype == kMaker) << device;
    }
  }

  // The rate moves with message 134 and the fixes go on.
  client_.Send("?DEVICE={\"path\":\"" + sim.path() + "\",\"bps\":9600};");
  ASSERT_TRUE(ReadUntil(8, [](const std::string& line) {
    double bps = 0;
    return Text(line, "class") == "DEVICE" && Number(line, "bps", bps) && bps == 9600;
  }));
  ExpectFixesEverySecond(3, 8);

  // Back to NMEA (message 129 at the rate in use): sentences, and the fixes
  // go on.
  client_.Send("?DEVICE={\"path\":\"" + sim.path() + "\",\"native\":0};");
  ASSERT_TRUE(ReadUntil(8, [](const std::string& line) { return line.rfind("$GPGGA,", 0) == 0; }))
      << Devices();
  ExpectFixesEverySecond(3, 8);
  ExpectSatellites();

  // Every acknowledgment the simulator sent was for a request it carries
  // out, and a message-rate acknowledgment was followed by the message.
  const std::set<int> carriedOut{0x80, 0x85, 0x86, 0x88, 0x8F, 0xA6};
  bool geodeticAfterRateAck = true;
  for (size_t i = 0; i < frames_.size(); ++i) {
    const Bytes& f = frames_[i];
    if (f.size() < 6 || f[4] != 11) continue;
    EXPECT_EQ(carriedOut.count(f[5]), 1u) << "message 11 for " << int(f[5]);
    if (f[5] != 0xA6) continue;
    bool followed = false;
    for (size_t j = i + 1; j < frames_.size() && !followed; ++j) followed = frames_[j][4] == 41;
    geodeticAfterRateAck &= followed;
  }
  EXPECT_TRUE(geodeticAfterRateAck);
  EXPECT_EQ(sim.Stop(), 0);
}

// Without a fix no satellite is used, in binary as in NMEA.
TEST_F(ReceiverSimGpsd, WithoutAFixNoSatelliteIsUsed) {
  SimProcess sim;
  ASSERT_TRUE(sim.Launch(Args({"--fix", "none", "--satellites", kSatellites})));
  ASSERT_NO_FATAL_FAILURE(StartGpsd(sim.path(), ""));
  ASSERT_TRUE(ReadUntil(15, [](const std::string& line) { return Text(line, "driver") == "SiRF"; }));
  const size_t first = sky_.size();
  ASSERT_TRUE(ReadUntil(6, [&](const std::string&) { return sky_.size() >= first + 3; }));
  for (size_t i = first; i < sky_.size(); ++i) {
    double used = -1;
    EXPECT_TRUE(Number(sky_[i], "uSat", used) && used == 0) << sky_[i];
  }
  for (const std::string& tpv : tpv_) {
    double mode = 0;
    EXPECT_TRUE(Number(tpv, "mode", mode) && mode < 2) << tpv;
  }
  EXPECT_EQ(sim.Stop(), 0);
}
