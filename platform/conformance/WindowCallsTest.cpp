// Windows as the viewer makes and drives them: a registered class, creation
// refused by WM_CREATE, destruction with a child, messages sent from
// another thread and posted, timers, invalidated parts painted; and the
// firmware dialog's way of running a dialog from a template in memory.
#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "Conformance.h"

namespace {

using conformance::Thread;

// What the windows of the case's class received, in order.
struct Seen {
  HWND window;
  UINT message;
  WPARAM wParam;
};
std::vector<Seen> seen;
bool refuseCreate = false;
DWORD sentOnThread = 0;
std::vector<RECT> painted;

bool Recorded(UINT message) {
  switch (message) {
    case WM_CREATE:
    case WM_DESTROY:
    case WM_TIMER:
    case WM_PAINT:
    case WM_APP:
    case WM_APP + 1:
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK CaseProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (Recorded(message)) seen.push_back({window, message, wParam});
  switch (message) {
    case WM_CREATE:
      return refuseCreate ? -1 : 0;
    case WM_APP:
      sentOnThread = GetCurrentThreadId();
      return 77;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      EXPECT_NE(dc, nullptr);
      painted.push_back(ps.rcPaint);
      EndPaint(window, &ps);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

const WCHAR kClass[] = TEXT("ConformanceCase");

class Windows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = CaseProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClass;
    ASSERT_NE(RegisterClassW(&wc), 0);
  }
  void SetUp() override {
    seen.clear();
    painted.clear();
    refuseCreate = false;
  }
  static HWND Make(DWORD style, HWND parent, int width = 100, int height = 80) {
    return CreateWindowExW(0, kClass, TEXT("Case"), style, 10, 20, width, height, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }
  static std::vector<UINT> Messages(HWND window) {
    std::vector<UINT> out;
    for (const Seen& s : seen)
      if (s.window == window) out.push_back(s.message);
    return out;
  }
  // Takes and dispatches what the queue holds now.
  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
};

TEST_F(Windows, AClassRegisteredTwiceAndCreationRefusedByWmCreate) {
  WNDCLASSW again{};
  again.lpfnWndProc = CaseProc;
  again.hInstance = GetModuleHandleW(nullptr);
  again.lpszClassName = kClass;
  SetLastError(0);
  EXPECT_EQ(RegisterClassW(&again), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

  refuseCreate = true;
  EXPECT_EQ(Make(WS_POPUP, nullptr), nullptr);
  // The refused window saw its creation and is gone.
  ASSERT_GE(seen.size(), 1u);
  HWND refused = seen.front().window;
  EXPECT_EQ(seen.front().message, static_cast<UINT>(WM_CREATE));
  EXPECT_FALSE(IsWindow(refused));
  SetLastError(0);
  EXPECT_EQ(CreateWindowExW(0, TEXT("NoSuchClass"), TEXT(""), WS_POPUP, 0, 0, 10, 10, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr),
            nullptr);
  WINE_DIFFERS(
      "a window of a class nobody registered fails with ERROR_CANNOT_FIND_WND_CLASS; "
      "Wine gives ERROR_CLASS_DOES_NOT_EXIST") {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
  }
}

TEST_F(Windows, DestroyingAParentEndsItsChildBeforeItself) {
  HWND parent = Make(WS_POPUP, nullptr);
  ASSERT_NE(parent, nullptr);
  HWND child = Make(WS_CHILD, parent, 20, 10);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(GetParent(child), parent);
  seen.clear();
  EXPECT_TRUE(DestroyWindow(parent));
  EXPECT_EQ(Messages(parent), std::vector<UINT>{WM_DESTROY});
  EXPECT_EQ(Messages(child), std::vector<UINT>{WM_DESTROY});
  EXPECT_FALSE(IsWindow(parent));
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(DestroyWindow(parent));
}

// WM_DESTROY goes to the window being destroyed first, then to its children
// as they are destroyed.
TEST_F(Windows, WmDestroyReachesTheWindowBeforeItsChildren) {
  HWND parent = Make(WS_POPUP, nullptr);
  HWND child = Make(WS_CHILD, parent, 20, 10);
  seen.clear();
  DestroyWindow(parent);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].window, parent);
  EXPECT_EQ(seen[1].window, child);
}

// A window whose WM_CREATE refused it gets no WM_DESTROY, having never been
// made.
TEST_F(Windows, AWindowRefusedByWmCreateGetsNoWmDestroy) {
  refuseCreate = true;
  EXPECT_EQ(Make(WS_POPUP, nullptr), nullptr);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(Messages(seen.front().window), std::vector<UINT>{WM_CREATE});
}

TEST_F(Windows, SentFromAnotherThreadItRunsOnTheWindowsThread) {
  HWND window = Make(WS_POPUP, nullptr);
  ASSERT_NE(window, nullptr);
  std::atomic<LRESULT> result{0};
  std::atomic<bool> done{false};
  Thread sender([&] {
    result = SendMessageW(window, WM_APP, 5, 0);
    done = true;
    PostMessageW(window, WM_APP + 1, 0, 0);  // wakes the loop
  });
  MSG msg;
  const DWORD start = GetTickCount();
  while (!done && GetTickCount() - start < 5000 && GetMessageW(&msg, nullptr, 0, 0))
    DispatchMessageW(&msg);
  sender.join();
  EXPECT_EQ(result, 77);
  EXPECT_EQ(sentOnThread, GetCurrentThreadId());
  // On its own thread a sent message runs at once, with no loop.
  sentOnThread = 0;
  EXPECT_EQ(SendMessageW(window, WM_APP, 6, 0), 77);
  EXPECT_EQ(sentOnThread, GetCurrentThreadId());
  DestroyWindow(window);
}

TEST_F(Windows, PostedMessagesAndTimersComeThroughTheQueue) {
  HWND window = Make(WS_POPUP, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(PostMessageW(window, WM_APP + 1, 9, 0));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, window);
  EXPECT_EQ(msg.message, WM_APP + 1u);
  EXPECT_EQ(msg.wParam, 9u);
  DispatchMessageW(&msg);
  ASSERT_EQ(Messages(window).back(), WM_APP + 1u);

  EXPECT_EQ(SetTimer(window, 7, 30, nullptr), 7u);
  const DWORD start = GetTickCount();
  int ticks = 0;
  while (ticks < 2 && GetTickCount() - start < 5000 && GetMessageW(&msg, nullptr, 0, 0)) {
    if (msg.message == WM_TIMER && msg.hwnd == window && msg.wParam == 7) ++ticks;
    DispatchMessageW(&msg);
  }
  EXPECT_EQ(ticks, 2);
  EXPECT_GE(GetTickCount() - start, 60u - 16u);
  EXPECT_TRUE(KillTimer(window, 7));
  EXPECT_FALSE(KillTimer(window, 7));
  SetLastError(0);
  EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(uintptr_t{0x7654}), WM_APP, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  DestroyWindow(window);
}

TEST_F(Windows, InvalidatedPartsArePaintedOnceAndPlacesFollowTheCalls) {
  HWND window = Make(WS_POPUP | WS_VISIBLE, nullptr);
  ASSERT_NE(window, nullptr);
  RECT client{};
  EXPECT_TRUE(GetClientRect(window, &client));
  EXPECT_EQ(client.right, 100);
  EXPECT_EQ(client.bottom, 80);
  RECT place{};
  EXPECT_TRUE(GetWindowRect(window, &place));
  EXPECT_EQ(place.left, 10);
  EXPECT_EQ(place.top, 20);

  EXPECT_TRUE(UpdateWindow(window));  // a new visible window is painted whole
  Pump();
  ASSERT_EQ(painted.size(), 1u);
  EXPECT_EQ(painted[0].right, 100);
  EXPECT_EQ(painted[0].bottom, 80);
  Pump();
  EXPECT_EQ(painted.size(), 1u);  // valid now: no more WM_PAINT

  RECT part{10, 10, 20, 30};
  EXPECT_TRUE(InvalidateRect(window, &part, FALSE));
  EXPECT_TRUE(UpdateWindow(window));
  ASSERT_EQ(painted.size(), 2u);
  EXPECT_LE(painted[1].left, 10);
  EXPECT_LE(painted[1].top, 10);
  EXPECT_GE(painted[1].right, 20);
  EXPECT_GE(painted[1].bottom, 30);
  EXPECT_LT(painted[1].right - painted[1].left, 100);
  Pump();
  EXPECT_EQ(painted.size(), 2u);

  EXPECT_TRUE(SetWindowPos(window, nullptr, 30, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
  EXPECT_TRUE(GetWindowRect(window, &place));
  EXPECT_EQ(place.left, 30);
  EXPECT_EQ(place.top, 40);
  EXPECT_EQ(place.right - place.left, 100);
  EXPECT_TRUE(SetWindowTextW(window, TEXT("GPS COM3:(57600)")));
  WCHAR title[32];
  EXPECT_EQ(GetWindowTextW(window, title, 32), 16);
  EXPECT_EQ(lstrcmpW(title, TEXT("GPS COM3:(57600)")), 0);
  ShowWindow(window, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(window));
  DestroyWindow(window);
}

// The wait cursor while the viewer works, and the loop's end.
TEST_F(Windows, TheWaitCursorComesAndGoesAndQuitEndsTheLoop) {
  HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
  ASSERT_NE(wait, nullptr);
  HCURSOR previous = SetCursor(wait);
  EXPECT_EQ(SetCursor(previous), wait);
  PostQuitMessage(3);
  MSG msg;
  EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 3u);
}

// ---- dialogs ----

// A dialog template in memory, as a resource compiler lays it out.
class DialogTemplate {
 public:
  DialogTemplate(const WCHAR* caption, WORD points, const WCHAR* face) {
    Dword(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT);
    Dword(0);
    Word(0);  // the count of controls, set by each Control
    for (short v : {0, 0, 103, 135}) Word(static_cast<WORD>(v));
    Word(0);  // no menu
    Word(0);  // the standard class
    Text(caption);
    Word(points);
    Text(face);
  }
  // A control of a predefined class (0x80 button, 0x82 static).
  void Control(WORD atom, DWORD style, RECT units, WORD id, const WCHAR* text) {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    for (LONG v : {units.left, units.top, units.right - units.left, units.bottom - units.top})
      Word(static_cast<WORD>(v));
    Word(id);
    Word(0xFFFF);
    Word(atom);
    Text(text);
    Word(0);  // no creation data
    ++bytes_[8];
  }
  const DLGTEMPLATE* get() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data());
  }

 private:
  void Word(WORD w) {
    bytes_.push_back(static_cast<BYTE>(w));
    bytes_.push_back(static_cast<BYTE>(w >> 8));
  }
  void Dword(DWORD d) {
    Word(static_cast<WORD>(d));
    Word(static_cast<WORD>(d >> 16));
  }
  void Text(const WCHAR* text) {
    for (; *text != 0; ++text) Word(static_cast<WORD>(*text));
    Word(0);
  }
  std::vector<BYTE> bytes_;
};

const RECT kOkUnits{27, 114, 77, 128};

struct DialogRun {
  LPARAM param = 0;
  RECT okMapped{};
  RECT okPixels{};
  WCHAR line[64] = {};
};

DIALOG_RESULT CALLBACK FirmwareProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  static DialogRun* run = nullptr;
  switch (message) {
    case WM_INITDIALOG: {
      run = reinterpret_cast<DialogRun*>(lParam);
      run->param = lParam;
      run->okMapped = kOkUnits;
      MapDialogRect(dialog, &run->okMapped);
      HWND ok = GetDlgItem(dialog, IDOK);
      GetWindowRect(ok, &run->okPixels);
      SendDlgItemMessageW(dialog, 1001, WM_SETTEXT, 0,
                          reinterpret_cast<LPARAM>(TEXT("COM3: (57600)")));
      GetWindowTextW(GetDlgItem(dialog, 1001), run->line, 64);
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        EndDialog(dialog, 42);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

TEST_F(Windows, ADialogFromATemplateRunsUntilEndDialogAndLaysOutInItsFontsUnits) {
  DialogTemplate dialog(TEXT("Firmware Info"), 8, TEXT("MS Shell Dlg"));
  dialog.Control(0x80, BS_DEFPUSHBUTTON | WS_TABSTOP, kOkUnits, IDOK, TEXT("OK"));
  dialog.Control(0x82, SS_LEFT, RECT{22, 97, 88, 105}, 1001, TEXT("-------"));
  DialogRun run;
  const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.get(), nullptr,
                                                 FirmwareProc, reinterpret_cast<LPARAM>(&run));
  EXPECT_EQ(result, 42);
  EXPECT_EQ(run.param, reinterpret_cast<LPARAM>(&run));
  EXPECT_EQ(lstrcmpW(run.line, TEXT("COM3: (57600)")), 0);
  // The button is as large as its dialog units in the template's font.
  EXPECT_GT(run.okMapped.right - run.okMapped.left, 50);
  EXPECT_EQ(run.okPixels.right - run.okPixels.left, run.okMapped.right - run.okMapped.left);
  EXPECT_EQ(run.okPixels.bottom - run.okPixels.top, run.okMapped.bottom - run.okMapped.top);
  // Ended, the dialog's window is gone.
  EXPECT_EQ(FindWindowW(nullptr, TEXT("Firmware Info")), nullptr);
}

}  // namespace
