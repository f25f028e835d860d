#include "testing/TempDevice.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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

void TempDevice::MakeBrokenHives() const {
  std::filesystem::create_directories(path_ + "/garbage");
  if (FILE* f = std::fopen((path_ + "/garbage/registry.db").c_str(), "w")) {
    std::fputs(std::string(4096, 'Z').c_str(), f);
    std::fclose(f);
  }
  std::filesystem::create_directories(path_ + "/folder/registry.db");
}

void TempDevice::AddSerialPort(const std::u16string& portName, const std::string& hostDevice,
                               const std::u16string& driverKey) {
  RegisterSerialPort(portName, driverKey, hostDevice);
}

}  // namespace handheld::testing
