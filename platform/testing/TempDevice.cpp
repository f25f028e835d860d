#include "testing/TempDevice.h"

#include <cstdlib>
#include <filesystem>

#include "handheld.h"

namespace handheld::testing {

TempDevice::TempDevice() {
  std::string pattern = (std::filesystem::temp_directory_path() / "handheld-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path_ = made ? made : pattern;
  SetDeviceFolder(path_);
}

TempDevice::~TempDevice() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDevice::hivePath() const { return path_ + "/registry.db"; }

void TempDevice::AddSerialPort(const std::u16string& portName, const std::string& hostDevice,
                               const std::u16string& driverKey) {
  RegisterSerialPort(portName, driverKey, hostDevice);
}

}  // namespace handheld::testing
