// The registry hive's value reads and enumeration with hostile names, types
// and sizes, through the Reg* calls the deliverables use, and the viewer's
// port search over driver entries the fuzzer fills in.
//
// Input: a sequence of operations, each chosen by one byte and followed by
// its arguments (names as UTF-16 code units of any value, types and sizes
// as given). Values are set on the current key: at first a scratch key,
// after "add driver" a new entry under "Drivers\Active" with a hostile name.
// Buffers handed to the calls have exactly the size the call is told.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "FindReceiverPort.h"
#include "FuzzCheck.h"
#include "handheld.h"
#include <windows.h>

namespace {

// A buffer that the call is told has `bytes` bytes; never a null pointer,
// not even for 0 bytes.
std::vector<BYTE> Buffer(DWORD bytes) { return std::vector<BYTE>(bytes == 0 ? 1 : bytes); }

const WCHAR kScratch[] = u"Fuzz";
const WCHAR kActive[] = u"Drivers\\Active";

// One simulated handheld for the whole run, in memory when /dev/shm is there.
struct Device {
  Device() {
    for (const std::filesystem::path& base :
         {std::filesystem::path("/dev/shm"), std::filesystem::temp_directory_path()}) {
      std::string pattern = (base / "registry-fuzz-XXXXXX").string();
      if (mkdtemp(pattern.data()) != nullptr) {
        path = pattern;
        break;
      }
    }
    if (path.empty()) std::abort();
    handheld::SetDeviceFolder(path);
  }
  ~Device() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

// A name: the given one of a few the port search reads, or hostile UTF-16.
std::u16string Name(FuzzedDataProvider& in) {
  static const char16_t* const kKnown[] = {u"Key", u"PnpId", u"Name", u"HostDevice", u""};
  const uint8_t pick = in.ConsumeIntegral<uint8_t>();
  if (pick < 5) return kKnown[pick];
  const size_t chars = in.ConsumeIntegralInRange<size_t>(0, pick > 250 ? 300 : 24);
  std::u16string name;
  for (size_t i = 0; i < chars && in.remaining_bytes() > 0; ++i) {
    const char16_t c = in.ConsumeIntegral<uint16_t>();
    if (c != 0) name += c;  // the calls take NUL-terminated names
  }
  return name;
}

// Text for a value, often one the port search looks for.
std::vector<BYTE> Data(FuzzedDataProvider& in) {
  static const char16_t* const kTexts[] = {u"Drivers\\Tessiv\\0100\\0001", u"DOVRIN-GPS",
                                           u"COM3:"};
  const uint8_t pick = in.ConsumeIntegral<uint8_t>();
  if (pick < 3) {
    const char16_t* text = kTexts[pick];
    const size_t bytes = (std::char_traits<char16_t>::length(text) + 1) * sizeof(char16_t);
    const BYTE* p = reinterpret_cast<const BYTE*>(text);
    return std::vector<BYTE>(p, p + bytes);
  }
  return in.ConsumeBytes<BYTE>(in.ConsumeIntegralInRange<size_t>(0, 700));
}

void CheckRead(HKEY key, const std::u16string& name, DWORD type, const std::vector<BYTE>& data) {
  DWORD readType = 0;
  DWORD bytes = static_cast<DWORD>(data.size());
  std::vector<BYTE> buffer = Buffer(bytes);
  FUZZ_CHECK(RegQueryValueExW(key, name.c_str(), nullptr, &readType, buffer.data(), &bytes) ==
             ERROR_SUCCESS);
  buffer.resize(bytes);
  FUZZ_CHECK(readType == type && bytes == data.size() && buffer == data);
}

void QueryValue(FuzzedDataProvider& in, HKEY key) {
  const std::u16string name = Name(in);
  const bool withBuffer = in.ConsumeBool();
  DWORD bytes = in.ConsumeIntegralInRange<DWORD>(0, 800);
  const DWORD given = bytes;
  std::vector<BYTE> buffer = Buffer(bytes);
  DWORD type = 0xDEADBEEF;
  const LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                                       withBuffer ? buffer.data() : nullptr, &bytes);
  if (status == ERROR_SUCCESS && withBuffer) FUZZ_CHECK(bytes <= given);
  if (status == ERROR_MORE_DATA) FUZZ_CHECK(withBuffer && bytes > given);
}

void EnumValue(FuzzedDataProvider& in, HKEY key) {
  const DWORD index = in.ConsumeIntegralInRange<DWORD>(0, 12);
  DWORD chars = in.ConsumeIntegralInRange<DWORD>(0, 300);
  const DWORD given = chars;
  std::vector<WCHAR> name(chars == 0 ? 1 : chars);
  const bool withBuffer = in.ConsumeBool();
  DWORD bytes = in.ConsumeIntegralInRange<DWORD>(0, 800);
  const DWORD givenBytes = bytes;
  std::vector<BYTE> buffer = Buffer(bytes);
  DWORD type = 0;
  const LONG status = RegEnumValueW(key, index, name.data(), &chars, nullptr, &type,
                                    withBuffer ? buffer.data() : nullptr, &bytes);
  if (status != ERROR_SUCCESS) return;
  FUZZ_CHECK(chars < given && name[chars] == 0);
  if (withBuffer) FUZZ_CHECK(bytes <= givenBytes);
  // The name enumerated names the value: it reads back the same.
  DWORD readType = 0;
  DWORD readBytes = 0;
  FUZZ_CHECK(RegQueryValueExW(key, name.data(), nullptr, &readType, nullptr, &readBytes) ==
             ERROR_SUCCESS);
  FUZZ_CHECK(readType == type && readBytes == bytes);
}

void EnumKey(FuzzedDataProvider& in, HKEY key) {
  const DWORD index = in.ConsumeIntegralInRange<DWORD>(0, 12);
  DWORD chars = in.ConsumeIntegralInRange<DWORD>(0, 300);
  const DWORD given = chars;
  std::vector<WCHAR> name(chars == 0 ? 1 : chars);
  FILETIME written = {};
  if (RegEnumKeyExW(key, index, name.data(), &chars, nullptr, nullptr, nullptr, &written) !=
      ERROR_SUCCESS)
    return;
  FUZZ_CHECK(chars < given && name[chars] == 0);
  // The name enumerated opens the key.
  HKEY child = nullptr;
  const LONG opened = RegOpenKeyExW(key, name.data(), 0, 0, &child);
  if (opened != ERROR_SUCCESS) {
    std::fprintf(stderr, "subkey %u of %u chars does not open (%ld):", index, chars, static_cast<long>(opened));
    for (DWORD i = 0; i < chars; ++i) std::fprintf(stderr, " %04X", static_cast<unsigned>(name[i]));
    std::fprintf(stderr, "\n");
  }
  FUZZ_CHECK(opened == ERROR_SUCCESS);
  RegCloseKey(child);
}

void QueryInfo(HKEY key) {
  DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxValueBytes = 0;
  FUZZ_CHECK(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr,
                              &values, &maxValueName, &maxValueBytes, nullptr, nullptr) ==
             ERROR_SUCCESS);
  // Every value fits the sizes reported.
  for (DWORD i = 0; i < values; ++i) {
    std::vector<WCHAR> name(maxValueName + 1);
    DWORD chars = maxValueName + 1;
    std::vector<BYTE> data = Buffer(maxValueBytes);
    DWORD bytes = maxValueBytes;
    FUZZ_CHECK(RegEnumValueW(key, i, name.data(), &chars, nullptr, nullptr, data.data(),
                             &bytes) == ERROR_SUCCESS);
  }
  for (DWORD i = 0; i < subKeys; ++i) {
    std::vector<WCHAR> name(maxSubKey + 1);
    DWORD chars = maxSubKey + 1;
    FUZZ_CHECK(RegEnumKeyExW(key, i, name.data(), &chars, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS);
  }
}

void FindPort(FuzzedDataProvider& in) {
  const DWORD bytes = in.ConsumeIntegralInRange<DWORD>(0, 600);
  // Exactly `bytes` bytes, an odd count included.
  std::vector<BYTE> buffer(bytes);
  LPWSTR text = bytes >= sizeof(WCHAR) ? reinterpret_cast<LPWSTR>(buffer.data()) : nullptr;
  std::vector<BYTE> tiny(1);
  FindReceiverPort(text != nullptr ? text : reinterpret_cast<LPWSTR>(tiny.data()), bytes);
  if (text == nullptr) return;
  const size_t chars = bytes / sizeof(WCHAR);
  bool terminated = false;
  for (size_t i = 0; i < chars && !terminated; ++i) terminated = text[i] == 0;
  FUZZ_CHECK(terminated);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Device device;
  FuzzedDataProvider in(data, size);

  HKEY scratch = nullptr;
  HKEY active = nullptr;
  FUZZ_CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kScratch, 0, nullptr, 0, 0, nullptr, &scratch,
                             nullptr) == ERROR_SUCCESS);
  FUZZ_CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kActive, 0, nullptr, 0, 0, nullptr, &active,
                             nullptr) == ERROR_SUCCESS);
  std::vector<HKEY> opened;
  HKEY current = scratch;

  for (int op = 0; op < 24 && in.remaining_bytes() > 0; ++op) {
    switch (in.ConsumeIntegral<uint8_t>() % 9) {
      case 0: {  // set a value
        const std::u16string name = Name(in);
        const DWORD type = in.ConsumeIntegral<DWORD>();
        const std::vector<BYTE> bytes = Data(in);
        if (RegSetValueExW(current, name.c_str(), 0, type, bytes.empty() ? nullptr : bytes.data(),
                           static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS)
          CheckRead(current, name, type, bytes);
        break;
      }
      case 1:
        QueryValue(in, current);
        break;
      case 2:
        EnumValue(in, current);
        break;
      case 3: {  // a new driver entry, the current key from now on
        const std::u16string name = Name(in);
        HKEY entry = nullptr;
        if (RegCreateKeyExW(active, name.c_str(), 0, nullptr, 0, 0, nullptr, &entry, nullptr) ==
            ERROR_SUCCESS) {
          opened.push_back(entry);
          current = entry;
        }
        break;
      }
      case 4:
        EnumKey(in, in.ConsumeBool() ? active : scratch);
        break;
      case 5:
        QueryInfo(current);
        break;
      case 6:
        RegDeleteValueW(current, Name(in).c_str());
        break;
      case 7:
        FindPort(in);
        break;
      case 8: {  // a subkey of the scratch key
        HKEY child = nullptr;
        if (RegCreateKeyExW(scratch, Name(in).c_str(), 0, nullptr, 0, 0, nullptr, &child,
                            nullptr) == ERROR_SUCCESS)
          RegCloseKey(child);
        break;
      }
    }
  }

  for (HKEY key : opened) RegCloseKey(key);
  RegCloseKey(active);
  RegCloseKey(scratch);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kScratch);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kActive);
  return 0;
}
