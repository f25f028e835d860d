// Test support: a person in front of the "Firmware Info" dialog. From a
// thread of its own it finds the dialog on the screen by its caption while
// the UI thread runs it, waits until its lines are filled, reads them,
// gives it a command it does not know and then closes it with OK or the
// cancel command.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "FirmwareInfoDialog.h"

namespace testsupport {

struct DialogSeen {
  bool found = false;
  // The port, version, loaded driver and installed drivers lines.
  std::u16string port, version, loaded, installed;
  RECT box{};
  bool openAfterOtherCommand = false;  // still there after a command it does not know
  bool closed = false;                 // gone once `closeWith` was given
};

// Runs `show` (which shows the dialog modally and returns when it has
// ended) on this thread while the person looks at the dialog.
inline DialogSeen WatchFirmwareDialog(const std::function<void()>& show, WPARAM closeWith) {
  DialogSeen seen;
  std::thread person([&] {
    HWND dialog = nullptr;
    for (int waited = 0; waited < 20000; waited += 20) {
      dialog = FindWindow(u"#32770", u"Firmware Info");
      WCHAR text[FirmwareInfoDialog::kTextChars] = {};
      if (dialog != nullptr &&
          GetDlgItemText(dialog, FirmwareInfoDialog::kInstalledDriversLine, text,
                         FirmwareInfoDialog::kTextChars) > 0 &&
          text[0] != u'-')
        break;
      dialog = nullptr;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (dialog == nullptr) return;
    seen.found = true;
    auto line = [&](int id) {
      WCHAR text[FirmwareInfoDialog::kTextChars] = {};
      GetDlgItemText(dialog, id, text, FirmwareInfoDialog::kTextChars);
      return std::u16string(text);
    };
    seen.port = line(FirmwareInfoDialog::kPortLine);
    seen.version = line(FirmwareInfoDialog::kVersionLine);
    seen.loaded = line(FirmwareInfoDialog::kActiveDriverLine);
    seen.installed = line(FirmwareInfoDialog::kInstalledDriversLine);
    GetWindowRect(dialog, &seen.box);
    // Sent, so that it has been handled when the call returns.
    SendMessage(dialog, WM_COMMAND, FirmwareInfoDialog::kPortLine, 0);
    seen.openAfterOtherCommand = IsWindow(dialog) && IsWindowVisible(dialog);
    PostMessage(dialog, WM_COMMAND, closeWith, 0);
    for (int waited = 0; waited < 5000 && IsWindow(dialog); waited += 20)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    seen.closed = !IsWindow(dialog);
    // A dialog that stays is ended all the same, so that the test goes on.
    if (!seen.closed) EndDialog(dialog, -3);
  });
  show();
  person.join();
  seen.closed = seen.closed && FindWindow(u"#32770", u"Firmware Info") == nullptr;
  return seen;
}

}  // namespace testsupport
