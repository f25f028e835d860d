// Device memory mapping and the register buffer transfers over the
// handheld's simulated physical memory and its register models.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Ferrix.h"
#include "handheld.h"
#include "testing/TempDevice.h"

namespace {

constexpr DWORD kPage = 0x30000000;  // a page boundary on every page size up to 256 MiB

PHYSICAL_ADDRESS Physical(uint64_t address) {
  PHYSICAL_ADDRESS p;
  p.QuadPart = static_cast<LONGLONG>(address);
  return p;
}

class BusAccess : public ::testing::Test {
 protected:
  handheld::testing::TempDevice device_;
};

// Bus addresses are physical addresses in memory space, whatever the bus.
TEST(BusAddressTranslation, GivesTheBusAddressUnchangedForEveryInterfaceAndBus) {
  const INTERFACE_TYPE kInterfaces[] = {
      InterfaceTypeUndefined, Internal, Isa,   Eisa,      MicroChannel,        TurboChannel,
      PCIBus,                 VMEBus,   NuBus, PCMCIABus, MaximumInterfaceType};
  const ULONG kBuses[] = {0, 1, 7, 0xFFFFFFFFu};
  const uint64_t kAddresses[] = {0, 0x30000010, 0xFFFFFFFF, 0x100000000ull,
                                 0x123456789ABCDEF0ull, 0xFFFFFFFFFFFFFFFFull};
  for (INTERFACE_TYPE type : kInterfaces) {
    for (ULONG bus : kBuses) {
      for (uint64_t address : kAddresses) {
        SCOPED_TRACE(testing::Message() << "interface " << type << ", bus " << bus << ", address 0x"
                                        << std::hex << address);
        ULONG space = 7;
        PHYSICAL_ADDRESS translated = Physical(0xA5A5A5A5A5A5A5A5ull);
        EXPECT_EQ(HalTranslateBusAddress(type, bus, Physical(address), &space, &translated), TRUE);
        EXPECT_EQ(space, 0u);
        EXPECT_EQ(static_cast<uint64_t>(translated.QuadPart), address);
      }
    }
  }
}

TEST_F(BusAccess, MapsFromThePageBaseWithTheRequestedProtection) {
  struct Case {
    const char* how;
    DWORD protect;
  };
  for (const Case& c : {Case{"cached", 0x404}, Case{"uncached", 0x604}, Case{"MapDeviceIO", 0x604}}) {
    const std::string how = c.how;
    ULONG space = 7;
    BYTE* p = how == "MapDeviceIO"
                  ? static_cast<BYTE*>(MapDeviceIO(kPage + 0x10, 4, &space, Internal, 0))
                  : static_cast<BYTE*>(MmMapIoSpace(Physical(0x100000000ull + kPage + 0x10), 4,
                                                    how == "cached"));
    ASSERT_NE(p, nullptr) << how;
    auto mapping = handheld::PhysicalMappings().back();
    EXPECT_EQ(mapping.address, p - 0x10) << how;
    EXPECT_EQ(mapping.physical, kPage) << how;  // upper 32 bits play no part
    EXPECT_EQ(mapping.bytes, 0x14u) << how;
    EXPECT_EQ(mapping.protect, c.protect) << how;
    if (how == "MapDeviceIO") {
      EXPECT_EQ(space, 0u);
    }

    // Another mapping of the same physical page shares its bytes.
    auto* other = static_cast<BYTE*>(MmMapIoSpace(Physical(kPage), 0x20, TRUE));
    ASSERT_NE(other, nullptr);
    p[0] = static_cast<BYTE>(c.protect);
    EXPECT_EQ(other[0x10], static_cast<BYTE>(c.protect)) << how;
    MmUnmapIoSpace(other, 0x20);
    MmUnmapIoSpace(p, 4);
  }
}

// The twelve transfer routines, each run against a register model of its
// element width.
using Transfer = void (*)(void*, void*, ULONG);
struct Routine {
  const char* name;
  Transfer transfer;
  DWORD width;
  bool read;
};
void PrintTo(const Routine& c, std::ostream* os) { *os << c.name; }

template <class T>
Transfer Erase(void (*f)(T*, T*, ULONG)) {
  return reinterpret_cast<Transfer>(f);
}

const Routine kRoutines[] = {
    {"READ_REGISTER_BUFFER_UCHAR", Erase(READ_REGISTER_BUFFER_UCHAR), 1, true},
    {"READ_REGISTER_BUFFER_USHORT", Erase(READ_REGISTER_BUFFER_USHORT), 2, true},
    {"READ_REGISTER_BUFFER_ULONG", Erase(READ_REGISTER_BUFFER_ULONG), 4, true},
    {"WRITE_REGISTER_BUFFER_UCHAR", Erase(WRITE_REGISTER_BUFFER_UCHAR), 1, false},
    {"WRITE_REGISTER_BUFFER_USHORT", Erase(WRITE_REGISTER_BUFFER_USHORT), 2, false},
    {"WRITE_REGISTER_BUFFER_ULONG", Erase(WRITE_REGISTER_BUFFER_ULONG), 4, false},
    {"READ_PORT_BUFFER_UCHAR", Erase(READ_PORT_BUFFER_UCHAR), 1, true},
    {"READ_PORT_BUFFER_USHORT", Erase(READ_PORT_BUFFER_USHORT), 2, true},
    {"READ_PORT_BUFFER_ULONG", Erase(READ_PORT_BUFFER_ULONG), 4, true},
    {"WRITE_PORT_BUFFER_UCHAR", Erase(WRITE_PORT_BUFFER_UCHAR), 1, false},
    {"WRITE_PORT_BUFFER_USHORT", Erase(WRITE_PORT_BUFFER_USHORT), 2, false},
    {"WRITE_PORT_BUFFER_ULONG", Erase(WRITE_PORT_BUFFER_ULONG), 4, false},
};

class RegisterTransfer : public BusAccess, public ::testing::WithParamInterface<Routine> {
 protected:
  void SetUp() override {
    std::string reason;
    if (!handheld::RegisterTrapsAvailable(&reason)) GTEST_SKIP() << reason;
  }
};

// Element i of a buffer of `width`-byte elements.
DWORD Element(const std::vector<BYTE>& buffer, DWORD width, size_t i) {
  DWORD value = 0;
  std::memcpy(&value, buffer.data() + i * width, width);
  return value;
}

TEST_P(RegisterTransfer, EachElementIsOneAccessOfTheRegister) {
  const Routine& r = GetParam();
  const DWORD reg = kPage + 0x40;
  ASSERT_TRUE(handheld::AttachRegister(reg, r.width));
  auto* device = static_cast<BYTE*>(MmMapIoSpace(Physical(reg), r.width, FALSE));
  ASSERT_NE(device, nullptr);
  const DWORD mask = r.width == 4 ? 0xFFFFFFFFu : (1u << (8 * r.width)) - 1;
  const std::vector<DWORD> values = {0xA1B2C3D4 & mask, 0x15263748 & mask, 0x0F1E2D3C & mask};
  const std::vector<BYTE> untouched(4 * r.width, 0xEE);

  // Count 0 touches neither side.
  std::vector<BYTE> buffer = untouched;
  handheld::QueueRegisterReads(reg, values);
  r.transfer(device, buffer.data(), 0);
  EXPECT_EQ(buffer, untouched);
  EXPECT_EQ(handheld::GetRegisterAccesses(reg).reads, 0u);
  EXPECT_TRUE(handheld::GetRegisterAccesses(reg).writes.empty());

  if (r.read) {
    r.transfer(device, buffer.data(), 3);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(Element(buffer, r.width, i), values[i]) << i;
    EXPECT_EQ(Element(buffer, r.width, 3), Element(untouched, r.width, 3));  // 3 elements only
    EXPECT_EQ(handheld::GetRegisterAccesses(reg).reads, 3u);
  } else {
    for (size_t i = 0; i < 3; ++i) std::memcpy(buffer.data() + i * r.width, &values[i], r.width);
    r.transfer(device, buffer.data(), 3);
    EXPECT_EQ(handheld::GetRegisterAccesses(reg).writes, values);
    EXPECT_EQ(handheld::GetRegisterAccesses(reg).reads, 0u);
  }
  MmUnmapIoSpace(device, r.width);
  handheld::DetachRegister(reg);
}

INSTANTIATE_TEST_SUITE_P(Routines, RegisterTransfer, ::testing::ValuesIn(kRoutines),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
