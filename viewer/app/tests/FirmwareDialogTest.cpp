// The "Firmware Info" dialog run from its template on its own, over a
// session that is open on a receiver which answers the version sentences:
// which port it finds with its smaller buffer, the rate it names, whether
// it asks the receiver, and the commands that close it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FirmwareDialogPerson.h"
#include "FirmwareInfoDialog.h"
#include "MainWindow.h"
#include "ScriptedReceiver.h"
#include "SerialSession.h"
#include "ViewerState.h"
#include "handheld.h"
#include "testing/TempDevice.h"

namespace {

using receiver_test::ScriptedReceiver;

const char16_t kSleeveKey[] = u"Drivers\\Tessiv\\0100\\0001";
const char16_t kNoGps[] = u"No GPS Attached";
// The session's rate as stored: not the viewer's own 57600, so that the
// line shows where it comes from.
const DWORD kStoredRate = 4800;

class FirmwareDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("HANDHELD_HEADLESS", "1", 1); }
  void TearDown() override {
    ViewerState::DeleteSession();
    Unlist();
  }

  // Opens the session on the receiver as COM3:, with a sentence reader of
  // its own (no version decoded yet), then takes the port off the list.
  void OpenSession() {
    listed.push_back(handheld::RegisterSerialPort(u"COM3:", kSleeveKey, receiver.path()));
    ViewerState::session = new SerialSession(u"COM3:", kStoredRate);
    ASSERT_TRUE(ViewerState::session->Reopen());
    ASSERT_TRUE(ViewerState::CreateCurrentReader());
    Unlist();
  }
  void Unlist() {
    for (const std::u16string& entry : listed)
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, (u"Drivers\\Active\\" + entry).c_str());
    listed.clear();
  }
  // Lists a receiver port `name` that is never opened here.
  void ListPort(const char16_t* name) {
    listed.push_back(handheld::RegisterSerialPort(name, kSleeveKey, "/nonexistent"));
  }

  // Runs the dialog from the program's template until the person closes it
  // with `closeWith`; `*result` is what the dialog ended with.
  testsupport::DialogSeen Run(WPARAM closeWith, INT_PTR* result) {
    HINSTANCE instance = GetModuleHandle(nullptr);
    HRSRC found = FindResource(instance, MAKEINTRESOURCE(MainWindow::kFirmwareDialog), RT_DIALOG);
    HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    auto dialog = static_cast<LPCDLGTEMPLATE>(loaded != nullptr ? LockResource(loaded) : nullptr);
    EXPECT_NE(dialog, nullptr);
    *result = -2;
    return testsupport::WatchFirmwareDialog(
        [&] {
          *result = DialogBoxIndirectParam(instance, dialog, nullptr, FirmwareInfoDialog::DialogProc, 0);
        },
        closeWith);
  }

  handheld::testing::TempDevice device;
  ScriptedReceiver receiver{[] {
    ScriptedReceiver::Script script;
    script.answer2 = "GSW2-2.05.024-C1Prod1.1";
    script.answer1 = "Dovrin GPS Sleeve 1.04";
    script.beatMs = 100;
    return script;
  }()};
  std::vector<std::u16string> listed;
};

// The dialog looks for the port with room for 9 characters: a longer name
// counts as no receiver, like none listed or COM1:, and then the port and
// the version lines say "No GPS Attached" and the receiver is not asked.
// The port line names the session's stored rate in every case. OK and the
// cancel command both close it; a command it does not know does not.
TEST_F(FirmwareDialogTest, PortAndVersionLinesAsThePortIsListedAndBothButtonsClose) {
  struct Case {
    const char* what;
    const char16_t* listedName;  // null: nothing listed
    const char16_t* port;        // the port line
    bool asks;                   // the receiver is asked for its version
    WPARAM closeWith;
  };
  const Case kCases[] = {
      {"nothing listed", nullptr, u"No GPS Attached (4800)", false, IDCANCEL},
      {"the receiver's driver names COM1:", u"COM1:", u"No GPS Attached (4800)", false, IDOK},
      {"a name of 10 characters", u"COM12345:a", u"No GPS Attached (4800)", false, IDCANCEL},
      {"a name of 9 characters fills the buffer", u"COM12345:", u"COM12345: (4800)", true, IDOK},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    OpenSession();
    if (c.listedName != nullptr) ListPort(c.listedName);
    const size_t sentBefore = receiver.Received().size();
    INT_PTR result = 0;
    const testsupport::DialogSeen seen = Run(c.closeWith, &result);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.port, c.port);
    const std::string sent = receiver.Received().substr(sentBefore);
    if (c.asks) {
      EXPECT_EQ(seen.version, u"GSW2-2.05.024-C1Prod1.1, Dovrin GPS Sleeve 1.04");
      EXPECT_NE(sent.find(receiver_test::kAskVersion2), std::string::npos);
    } else {
      EXPECT_EQ(seen.version, kNoGps);
      EXPECT_EQ(sent, "");
    }
    EXPECT_TRUE(seen.openAfterOtherCommand);
    EXPECT_TRUE(seen.closed);
    EXPECT_EQ(result, static_cast<INT_PTR>(c.closeWith));
    ViewerState::DeleteSession();
    Unlist();
  }
}

}  // namespace
