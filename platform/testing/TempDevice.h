// Test support: a simulated handheld in a temporary device folder, removed
// again on destruction.
#pragma once

#include <string>

namespace handheld::testing {

class TempDevice {
 public:
  TempDevice();  // creates the folder and makes it the device folder
  ~TempDevice();
  TempDevice(const TempDevice&) = delete;
  TempDevice& operator=(const TempDevice&) = delete;

  const std::string& path() const { return path_; }
  std::string hivePath() const;
  // Two device folders below this one whose hives cannot be used: in
  // path()/garbage registry.db is no database, in path()/folder a folder.
  void MakeBrokenHives() const;

  // Lists `hostDevice` as port `portName` (for example u"COM3:") the way a
  // sleeve's serial driver is listed, under "Drivers\Tessiv\0100\0001".
  // Further ports need driver keys of their own.
  void AddSerialPort(const std::u16string& portName, const std::string& hostDevice,
                     const std::u16string& driverKey = u"Drivers\\Tessiv\\0100\\0001");

 private:
  std::string path_;
};

}  // namespace handheld::testing
