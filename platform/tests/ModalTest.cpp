// Modal loops on the headless screen: dialogs from templates in dialog
// units, message boxes drawn on the screen, scripted answers, and the
// owner's timer and paints that keep running under both.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "commdlg.h"
#include "handheld.h"
#include "testing/ScreenPicture.h"
#include "testing/TempDevice.h"

namespace {

using handheld::testing::ScreenPicture;

[[maybe_unused]] const int kHeadless = setenv("HANDHELD_HEADLESS", "1", 1);
handheld::testing::TempDevice device;  // the remote control's socket goes there

// ---- a dialog template written byte by byte, as its documented layout says ----

class TemplateBytes {
 public:
  TemplateBytes(DWORD style, short cx, short cy, const std::u16string& caption, WORD points,
                const std::u16string& face) {
    Dword(style | DS_SETFONT);
    Dword(0);
    countAt_ = bytes_.size();
    Word(0);
    Word(0), Word(0), Word(static_cast<WORD>(cx)), Word(static_cast<WORD>(cy));
    Word(0);  // menu
    Word(0);  // class
    Text(caption);
    Word(points);
    Text(face);
  }
  // A control of a predefined class (0x80 button, 0x81 edit, 0x82 static).
  void Item(WORD classAtom, DWORD style, short x, short y, short cx, short cy, WORD id,
            const std::u16string& text) {
    while (bytes_.size() % 4) bytes_.push_back(0);
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    Word(static_cast<WORD>(x)), Word(static_cast<WORD>(y)), Word(static_cast<WORD>(cx)),
        Word(static_cast<WORD>(cy)), Word(id);
    Word(0xFFFF), Word(classAtom);
    Text(text);
    Word(0);  // no creation data
    ++count_;
    std::memcpy(bytes_.data() + countAt_, &count_, sizeof count_);
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

 private:
  void Word(WORD w) {
    bytes_.push_back(static_cast<BYTE>(w));
    bytes_.push_back(static_cast<BYTE>(w >> 8));
  }
  void Dword(DWORD d) {
    Word(static_cast<WORD>(d));
    Word(static_cast<WORD>(d >> 16));
  }
  void Text(const std::u16string& text) {
    for (char16_t c : text) Word(c);
    Word(0);
  }
  std::vector<BYTE> bytes_;
  size_t countAt_ = 0;
  WORD count_ = 0;
};

// The firmware dialog's shape: "System" 8 points, a default OK button and
// static texts.
TemplateBytes FirmwareTemplate() {
  TemplateBytes t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 103, 135, u"Firmware Info",
                  8, u"System");
  t.Item(0x80, BS_DEFPUSHBUTTON | WS_TABSTOP, 27, 114, 50, 14, IDOK, u"OK");
  t.Item(0x82, SS_LEFT | WS_GROUP, 7, 7, 56, 8, 0xFFFF, u"Drivers Installed:");
  t.Item(0x82, SS_LEFT | WS_GROUP, 22, 15, 66, 19, 1004, u"-----\n-----");
  t.Item(0x82, WS_GROUP, 22, 97, 66, 8, 1001, u"-------");
  return t;
}

// Pixels of dialog units, computed here from the font's own measures.
struct Units {
  int x, y;
};
Units BaseUnitsOfSystem8() {
  LOGFONTW lf{};
  lf.lfHeight = -11;  // 8 points at 96 dots per inch
  std::memcpy(lf.lfFaceName, u"System", 7 * sizeof(char16_t));
  HFONT font = CreateFontIndirectW(&lf);
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &size);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  DeleteDC(dc);
  DeleteObject(font);
  return Units{(size.cx / 26 + 1) / 2, tm.tmHeight};
}
int Round(int value, int unit, int parts) { return (value * unit + parts / 2) / parts; }

// ---- the owner: a window counting its timer ticks and paints ----

int owner_ticks = 0;
int owner_paints = 0;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER && wParam == 7) {
    ++owner_ticks;
    InvalidateRect(hwnd, nullptr, FALSE);
    return 0;
  }
  if (message == WM_PAINT) ++owner_paints;
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND MakeOwner() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = OwnerProc;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
  wc.lpszClassName = u"Owner";
  RegisterClassW(&wc);
  return CreateWindowExW(WS_EX_CAPTIONOKBTN, u"Owner", u"Owner", WS_VISIBLE, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr,
                         nullptr);
}

// ---- dialogs ----

// What the dialog does once it is on the screen (its own 10 ms timer).
std::function<void(HWND)> on_shown;
std::vector<RECT> control_rects;

BOOL CALLBACK FirmwareProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      for (int id : {IDOK, 1004, 1001}) {
        RECT r{};
        GetWindowRect(GetDlgItem(dialog, id), &r);
        control_rects.push_back(r);
      }
      SetTimer(dialog, 1, 10, nullptr);
      return TRUE;
    case WM_TIMER:
      KillTimer(dialog, 1);
      if (on_shown) on_shown(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

POINT CenterOf(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

TEST(Dialogs, TemplateLaysOutControlsInDialogUnitsAndEachWayOfEndingGivesItsId) {
  HWND owner = MakeOwner();
  const Units base = BaseUnitsOfSystem8();
  ASSERT_GT(base.x, 0);
  struct Case {
    const char* how;
    std::function<void(HWND)> act;
    INT_PTR result;
  } cases[] = {
      {"tap on OK",
       [](HWND d) {
         POINT c = CenterOf(GetDlgItem(d, IDOK));
         handheld::TapScreen(c.x, c.y);
       },
       IDOK},
      {"Enter", [](HWND) { handheld::PressKey(VK_RETURN, u'\r'); }, IDOK},
      {"Escape", [](HWND) { handheld::PressKey(VK_ESCAPE, 0x1B); }, IDCANCEL},
      {"cancel command", [](HWND d) { PostMessageW(d, WM_COMMAND, IDCANCEL, 0); }, IDCANCEL},
      {"close request", [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); }, IDCANCEL},
      {"tap beside the buttons", [](HWND d) {
         RECT r{};
         GetWindowRect(d, &r);
         handheld::TapScreen(r.left + 3, r.bottom - 3);  // nothing there: the dialog stays
         PostMessageW(d, WM_COMMAND, IDOK, 0);
       },
       IDOK},
  };
  for (const Case& c : cases) {
    control_rects.clear();
    on_shown = c.act;
    const TemplateBytes t = FirmwareTemplate();
    EXPECT_EQ(DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.get(), owner, FirmwareProc, 0),
              c.result)
        << c.how;
    EXPECT_TRUE(IsWindowEnabled(owner)) << c.how;
    ASSERT_EQ(control_rects.size(), 3u);
    // The dialog's client area starts below its caption, inside its border.
    POINT origin{0, 0};
    ClientToScreen(owner, &origin);
    const int left = origin.x + 1, top = origin.y + 18;
    struct {
      int x, y, cx, cy;
    } units[] = {{27, 114, 50, 14}, {22, 15, 66, 19}, {22, 97, 66, 8}};
    for (size_t i = 0; i < 3; ++i) {
      const RECT& r = control_rects[i];
      EXPECT_EQ(r.left, left + Round(units[i].x, base.x, 4)) << c.how << " control " << i;
      EXPECT_EQ(r.top, top + Round(units[i].y, base.y, 8)) << c.how << " control " << i;
      EXPECT_EQ(r.right - r.left, Round(units[i].cx, base.x, 4)) << c.how << " control " << i;
      EXPECT_EQ(r.bottom - r.top, Round(units[i].cy, base.y, 8)) << c.how << " control " << i;
    }
  }
}

// ---- both modal loops keep the thread's messages flowing ----

TEST(Modal, OwnersTimerTicksAndPaintsWhileABoxOrADialogWaits) {
  HWND owner = MakeOwner();
  ASSERT_EQ(SetTimer(owner, 7, 20, nullptr), 7u);
  struct Case {
    const char* loop;
    std::function<void()> run;
  } cases[] = {
      {"message box",
       [&] {
         auto previous = handheld::SetMessageBoxAnswerer([](const handheld::MessageBoxRequest&) {
           return owner_ticks >= 5 ? IDOK : handheld::kNoAnswerYet;
         });
         EXPECT_EQ(MessageBoxW(owner, u"Waiting", u"Error", MB_OK), IDOK);
         handheld::SetMessageBoxAnswerer(previous);
       }},
      {"dialog",
       [&] {
         on_shown = [](HWND d) { SetTimer(d, 2, 5, nullptr); };
         // The dialog's own second timer ends it once the owner has ticked.
         const TemplateBytes t = FirmwareTemplate();
         static auto proc = [](HWND d, UINT m, WPARAM w, LPARAM l) -> BOOL {
           if (m == WM_TIMER && w == 2) {
             if (owner_ticks >= 5) EndDialog(d, IDOK);
             return TRUE;
           }
           return FirmwareProc(d, m, w, l);
         };
         EXPECT_EQ(DialogBoxIndirectParamW(nullptr, t.get(), owner,
                                           [](HWND d, UINT m, WPARAM w, LPARAM l) {
                                             return proc(d, m, w, l);
                                           },
                                           0),
                   IDOK);
       }},
  };
  for (const Case& c : cases) {
    owner_ticks = 0;
    owner_paints = 0;
    const DWORD start = GetTickCount();
    c.run();
    EXPECT_GE(owner_ticks, 5) << c.loop;
    EXPECT_GE(owner_paints, 4) << c.loop;  // the ticks' invalidations were painted
    EXPECT_LT(GetTickCount() - start, 2000u) << c.loop;
  }
}

// ---- message boxes on the screen and by script ----

int box_answer = 0;

LRESULT CALLBACK BoxOwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER && wParam == 9) {
    KillTimer(hwnd, 9);
    HWND box = FindWindowW(u"#MessageBox", nullptr);
    if (!box) return 0;
    EXPECT_EQ(ScreenPicture::ScreenDifference(std::string(HANDHELD_PLATFORM_TEST_DATA) +
                                              "/message-box.png"),
              "");
    handheld::TapScreen(10, 100);  // on the owner, disabled under the box: nothing
    POINT retry = CenterOf(GetDlgItem(box, IDRETRY));
    handheld::TapScreen(retry.x, retry.y);
    return 0;
  }
  if (message == WM_LBUTTONDOWN) box_answer = -1;  // must not happen
  return OwnerProc(hwnd, message, wParam, lParam);
}

TEST(MessageBoxes, DrawnOnTheScreenWithCaptionTextAndButtonsAndATapAnswers) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = BoxOwnerProc;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
  wc.lpszClassName = u"BoxOwner";
  RegisterClassW(&wc);
  HWND owner = CreateWindowExW(0, u"BoxOwner", u"Quelmar 3.4", WS_VISIBLE, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                               nullptr, nullptr);
  handheld::ShowMessageBoxesOnScreen(true);
  SetTimer(owner, 9, 30, nullptr);
  box_answer = MessageBoxW(owner, u"Unable to open COM3: the port is in use by another program.",
                           u"Error", MB_RETRYCANCEL | MB_ICONERROR);
  EXPECT_EQ(box_answer, IDRETRY);
  EXPECT_EQ(FindWindowW(u"#MessageBox", nullptr), nullptr);  // gone with its answer
  EXPECT_TRUE(IsWindowEnabled(owner));
  const auto records = handheld::MessageBoxRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].caption, u"Error");
  EXPECT_EQ(records[0].answer, IDRETRY);
}

TEST(MessageBoxes, ScriptedAnswersAreTakenInOrderAndRecorded) {
  handheld::SetScriptedAnswers("IDRETRY,2,save:\\My Documents\\a.log,IDNO");
  EXPECT_EQ(MessageBoxW(nullptr, u"one", u"Error", MB_RETRYCANCEL), IDRETRY);
  EXPECT_EQ(MessageBoxW(nullptr, u"two", u"Error", MB_RETRYCANCEL), IDCANCEL);
  // The next entry is for a save dialog: this box gets its default button.
  EXPECT_EQ(MessageBoxW(nullptr, u"three", u"", MB_YESNO | MB_DEFBUTTON2), IDNO);
  const auto records = handheld::MessageBoxRecords();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1].text, u"two");
  EXPECT_EQ(records[1].answer, IDCANCEL);
  EXPECT_EQ(records[2].caption, u"");
}

}  // namespace

// ---- the save dialog ----

namespace {

std::vector<std::function<void()>> steps;  // one per tick of the owner's timer 11
size_t next_step = 0;

LRESULT CALLBACK StepsProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER && wParam == 11) {
    if (next_step < steps.size()) steps[next_step++]();
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Type(const std::u16string& text) {
  for (char16_t c : text) handheld::PressKey(c == u'\b' ? VK_BACK : std::toupper(c), c);
}

std::string ScreenDifference(const std::string& name) {
  return ScreenPicture::ScreenDifference(std::string(HANDHELD_PLATFORM_TEST_DATA) + "/" + name);
}

}  // namespace

TEST(SaveDialog, OnTheScreenOffersTheNameAsksBeforeReplacingAndGivesThePathOnTheHandheld) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = StepsProc;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
  wc.lpszClassName = u"Steps";
  RegisterClassW(&wc);
  HWND owner = CreateWindowExW(0, u"Steps", u"Quelmar", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  handheld::ShowMessageBoxesOnScreen(true);
  SetTimer(owner, 11, 15, nullptr);
  const std::string existing = handheld::HostPath(u"\\My Documents\\old.log");
  auto tapButton = [](const char16_t* windowClass, int id) {
    POINT c = CenterOf(GetDlgItem(FindWindowW(windowClass, nullptr), id));
    handheld::TapScreen(c.x, c.y);
  };
  struct Case {
    const char* what;
    const char16_t* offered;
    std::vector<std::function<void()>> steps;
    BOOL result;
    std::u16string path;
  } cases[] = {
      {"Enter takes the offered name",
       u"Quelmar.log",
       {[] { EXPECT_EQ(ScreenDifference("save-dialog.png"), ""); },
        [] { handheld::PressKey(VK_RETURN, u'\r'); }},
       TRUE,
       u"\\My Documents\\Quelmar.log"},
      {"a typed name gets the default extension", u"Quelmar.log",
       {[] { Type(std::u16string(11, u'\b') + u"gps"); }, [] { handheld::PressKey(VK_RETURN, u'\r'); }},
       TRUE, u"\\My Documents\\gps.log"},
      {"Escape cancels", u"Quelmar.log", {[] { handheld::PressKey(VK_ESCAPE, 0x1B); }}, FALSE, u""},
      {"an existing file: No keeps the dialog, Cancel ends it",
       u"old.log",
       {[] { handheld::PressKey(VK_RETURN, u'\r'); },
        [&] { ASSERT_NE(FindWindowW(u"#MessageBox", nullptr), nullptr); },
        [&] { tapButton(u"#MessageBox", IDNO); },
        [&] { tapButton(u"#32770", IDCANCEL); }},
       FALSE,
       u""},
      {"an existing file: Yes replaces it",
       u"old.log",
       {[&] { tapButton(u"#32770", IDOK); }, [&] { tapButton(u"#MessageBox", IDYES); }},
       TRUE,
       u"\\My Documents\\old.log"},
  };
  for (Case& c : cases) {
    std::filesystem::create_directories(std::filesystem::path(existing).parent_path());
    std::FILE* f = std::fopen(existing.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    steps = c.steps;
    next_step = 0;
    WCHAR file[256] = {};
    std::u16string(c.offered).copy(file, 255);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = u"Sirf Log File\0*.log\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = 256;
    ofn.lpstrInitialDir = u"//My Documents";
    ofn.lpstrTitle = u"Save Sirf Log File";
    ofn.Flags = OFN_OVERWRITEPROMPT;
    ofn.lpstrDefExt = u"log";
    EXPECT_EQ(GetSaveFileNameW(&ofn), c.result) << c.what;
    if (c.result) {
      EXPECT_EQ(std::u16string(file), c.path) << c.what;
    }
    EXPECT_EQ(FindWindowW(u"#32770", nullptr), nullptr) << c.what;
  }
}

TEST(SaveDialog, AnsweredByTheScriptOrWithNobodyToAskByTheOfferedName) {
  handheld::SetScriptedAnswers("save:\\My Documents\\b.log,IDCANCEL,save:c");
  auto ask = [](WCHAR* file) {
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.lpstrFile = file;
    ofn.nMaxFile = 64;
    ofn.lpstrInitialDir = u"\\My Documents\\";
    ofn.lpstrDefExt = u"log";
    return GetSaveFileNameW(&ofn);
  };
  WCHAR file[64] = u"Quelmar.log";
  EXPECT_TRUE(ask(file));
  EXPECT_EQ(std::u16string(file), u"\\My Documents\\b.log");
  EXPECT_FALSE(ask(file));
  EXPECT_TRUE(ask(file));
  EXPECT_EQ(std::u16string(file), u"\\My Documents\\c.log");
  std::u16string(u"Quelmar.log").copy(file, 63);
  file[11] = 0;
  EXPECT_TRUE(ask(file));  // the script is used up: headless, the offered name
  EXPECT_EQ(std::u16string(file), u"\\My Documents\\Quelmar.log");
  WCHAR small[8] = u"x";
  OPENFILENAMEW ofn{};
  ofn.lpstrFile = small;
  ofn.nMaxFile = 8;
  EXPECT_FALSE(GetSaveFileNameW(&ofn));  // "\My Documents\x" does not fit
  EXPECT_EQ(CommDlgExtendedError(), FNERR_BUFFERTOOSMALL);
}
