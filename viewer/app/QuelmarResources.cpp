// Quelmar's resources: title and class strings, icon, menu, accelerators
// and the "Firmware Info" dialog.
#include <windows.h>

#include <array>

#include "FirmwareInfoDialog.h"
#include "MainWindow.h"

namespace {

// A 16 x 16 icon: a receiver dish in dark blue on white, its signal in green.
constexpr int kIconSize = 16;
constexpr std::array<DWORD, kIconSize * kIconSize> MakeIcon() {
  std::array<DWORD, kIconSize * kIconSize> pixels{};
  for (int y = 0; y < kIconSize; ++y)
    for (int x = 0; x < kIconSize; ++x) {
      const int dx = x - 5, dy = y - 10;
      const int ring = (x - 6) * (x - 6) + (y - 9) * (y - 9);
      DWORD color = 0xFFFFFF;
      if (dx * dx + dy * dy <= 20 && x + 1 >= 16 - y) color = 0x1F3F8F;   // the dish
      if (y >= 13 && x >= 3 && x <= 8) color = 0x1F3F8F;                  // its foot
      if (((ring >= 64 && ring <= 80) || (ring >= 110 && ring <= 130)) && x > 7 && y < 8)
        color = 0x20B040;                                                 // the signal
      pixels[static_cast<size_t>(y) * kIconSize + x] = color;
    }
  return pixels;
}
constexpr std::array<DWORD, kIconSize * kIconSize> kIcon = MakeIcon();

const MENU_RESOURCE_ITEM kMenu[] = {
    {MF_POPUP | MF_END, 0, TEXT("&File")},
    {MF_STRING | MF_END, MainWindow::kExit, TEXT("E&xit")},
};

ACCEL kAccelerators[] = {
    {FVIRTKEY | FALT, VK_F4, MainWindow::kExit},
};

const DWORD kStatic = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
const WORD kNoId = static_cast<WORD>(-1);

const DIALOG_RESOURCE_ITEM kFirmwareItems[] = {
    {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 27, 114, 50, 14, IDOK,
     TEXT("BUTTON"), TEXT("OK")},
    {kStatic, 0, 7, 7, 56, 8, kNoId, TEXT("STATIC"), TEXT("Drivers Installed:")},
    {kStatic, 0, 22, 15, 66, 19, FirmwareInfoDialog::kInstalledDriversLine, TEXT("STATIC"),
     TEXT("-----\n-----")},
    {kStatic, 0, 7, 35, 48, 8, kNoId, TEXT("STATIC"), TEXT("Driver Loaded:")},
    {kStatic, 0, 22, 45, 66, 8, FirmwareInfoDialog::kActiveDriverLine, TEXT("STATIC"),
     TEXT("-----")},
    {kStatic, 0, 7, 58, 70, 8, kNoId, TEXT("STATIC"), TEXT("Receiver SW Version:")},
    {kStatic, 0, 21, 66, 66, 19, FirmwareInfoDialog::kVersionLine, TEXT("STATIC"),
     TEXT("------\n------")},
    {kStatic, 0, 7, 88, 33, 8, kNoId, TEXT("STATIC"), TEXT("Com Port:")},
    {kStatic, 0, 22, 97, 66, 8, FirmwareInfoDialog::kPortLine, TEXT("STATIC"), TEXT("-------")},
};

const DIALOG_RESOURCE kFirmwareDialog = {
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    0,
    0,
    0,
    103,
    135,
    TEXT("Firmware Info"),
    8,
    TEXT("System"),
    kFirmwareItems,
    sizeof kFirmwareItems / sizeof kFirmwareItems[0],
};

const RESOURCE_ENTRY kResources[] = {
    {RT_STRING, MAKEINTRESOURCE(MainWindow::kTitleString), TEXT("Quelmar 3.4"), 0},
    {RT_STRING, MAKEINTRESOURCE(MainWindow::kClassString), TEXT("QUELMAR"), 0},
    {RT_ICON, MAKEINTRESOURCE(MainWindow::kIcon), kIcon.data(), sizeof kIcon},
    {RT_MENU, MAKEINTRESOURCE(MainWindow::kMenu), kMenu, sizeof kMenu},
    {RT_ACCELERATOR, MAKEINTRESOURCE(MainWindow::kAccelerators), kAccelerators,
     sizeof kAccelerators},
    {RT_DIALOG, MAKEINTRESOURCE(MainWindow::kFirmwareDialog), &kFirmwareDialog,
     sizeof kFirmwareDialog},
};
DECLARE_RESOURCES(kResources);

}  // namespace
