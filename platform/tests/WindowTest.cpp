// Windows and their messages on the headless screen: creation and
// destruction, text and places, painting, timers, sends across threads,
// taps and keys, accelerators, resources, and what the screen shows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "aygshell.h"
#include "commctrl.h"
#include "handheld.h"
#include "testing/ScreenPicture.h"
#include "testing/TempDevice.h"

namespace {

using handheld::testing::ScreenPicture;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

[[maybe_unused]] const int kHeadless = setenv("HANDHELD_HEADLESS", "1", 1);
handheld::testing::TempDevice device;  // the remote control's socket goes there

// What the test windows received, in order.
struct Received {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD threadId;
};
std::mutex received_mutex;
std::vector<Received> received;
LRESULT create_result = 0;

std::vector<UINT> MessagesOf(HWND hwnd, std::vector<UINT> only) {
  std::lock_guard<std::mutex> lock(received_mutex);
  std::vector<UINT> out;
  for (const Received& r : received)
    if ((!hwnd || r.hwnd == hwnd) && std::find(only.begin(), only.end(), r.message) != only.end())
      out.push_back(r.message);
  return out;
}

std::vector<Received> All(UINT message) {
  std::lock_guard<std::mutex> lock(received_mutex);
  std::vector<Received> out;
  for (const Received& r : received)
    if (r.message == message) out.push_back(r);
  return out;
}

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> lock(received_mutex);
    received.push_back(Received{hwnd, message, wParam, lParam, GetCurrentThreadId()});
  }
  if (message == WM_CREATE) return create_result;
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void RegisterTestClass(HBRUSH background = nullptr) {
  WNDCLASSW wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = RecordingProc;
  wc.hbrBackground = background;
  wc.lpszClassName = u"TestWindow";
  ASSERT_NE(RegisterClassW(&wc), 0);
}

HWND MakeWindow(DWORD style = WS_VISIBLE, HWND parent = nullptr, int id = 0, RECT at = {}) {
  const bool useDefault = at.right == 0;
  return CreateWindowExW(0, u"TestWindow", u"Test", style, useDefault ? CW_USEDEFAULT : at.left,
                         useDefault ? CW_USEDEFAULT : at.top,
                         useDefault ? CW_USEDEFAULT : at.right - at.left,
                         useDefault ? CW_USEDEFAULT : at.bottom - at.top, parent,
                         reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
}

// Takes and dispatches messages (translating keys through `accelerators`,
// if given) until none has come for `quietMs`.
void Pump(DWORD quietMs = 50, HACCEL accelerators = nullptr) {
  DWORD last = GetTickCount();
  while (GetTickCount() - last < quietMs) {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(1);
      continue;
    }
    last = GetTickCount();
    if (accelerators && TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

uint32_t ScreenPixel(int x, int y) {
  const std::string path = std::filesystem::temp_directory_path() /
                           ("window-test-" + std::to_string(getpid()) + ".png");
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  EXPECT_TRUE(handheld::WriteScreenshot(path));
  EXPECT_TRUE(ScreenPicture::ReadPng(path, &width, &height, &pixels));
  std::filesystem::remove(path);
  return pixels.empty() ? 0xDEADBEEF : pixels[static_cast<size_t>(y) * width + x];
}

TEST(Windows, CreationAndDestructionSendTheirMessagesInOrder) {
  RegisterTestClass();
  // WM_CREATE failing: the window is destroyed without WM_DESTROY, never
  // having been made, and no handle comes back.
  create_result = -1;
  EXPECT_EQ(MakeWindow(), nullptr);
  EXPECT_THAT(MessagesOf(nullptr, {WM_CREATE, WM_DESTROY}), ElementsAre(WM_CREATE));
  create_result = 0;

  // A parent with two children: the parent hears WM_DESTROY first, then its
  // children, and every handle is dead afterwards.
  HWND parent = MakeWindow();
  HWND first = MakeWindow(WS_CHILD | WS_VISIBLE, parent, 7, RECT{10, 10, 60, 40});
  HWND second = MakeWindow(WS_CHILD | WS_VISIBLE, parent, 8, RECT{70, 10, 120, 40});
  ASSERT_TRUE(parent && first && second);
  EXPECT_EQ(GetDlgItem(parent, 8), second);
  EXPECT_EQ(GetDlgCtrlID(first), 7);
  EXPECT_EQ(GetParent(first), parent);
  {
    std::lock_guard<std::mutex> lock(received_mutex);
    received.clear();
  }
  ASSERT_TRUE(DestroyWindow(parent));
  std::vector<HWND> order;
  for (const Received& r : All(WM_DESTROY)) order.push_back(r.hwnd);
  EXPECT_THAT(order, ElementsAre(parent, first, second));
  EXPECT_FALSE(IsWindow(parent) || IsWindow(first) || IsWindow(second));
  EXPECT_FALSE(DestroyWindow(parent));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

  // WM_CLOSE to the default procedure destroys the window.
  HWND closing = MakeWindow();
  SendMessageW(closing, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(closing));

  // Classes: unknown ones and second registrations fail.
  EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                            nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
  WNDCLASSW again{};
  again.lpfnWndProc = RecordingProc;
  again.lpszClassName = u"testwindow";
  EXPECT_EQ(RegisterClassW(&again), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
}

TEST(Windows, DefaultPlaceIsTheWorkAreaAndTextAndPlacesFollowTheCalls) {
  RegisterTestClass();
  HWND hwnd = MakeWindow();
  RECT rect;
  ASSERT_TRUE(GetWindowRect(hwnd, &rect));
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 26);
  EXPECT_EQ(rect.right, 240);
  EXPECT_EQ(rect.bottom, 294);
  ASSERT_TRUE(GetClientRect(hwnd, &rect));
  EXPECT_EQ(rect.right, 240);
  EXPECT_EQ(rect.bottom, 268);

  HWND child = MakeWindow(WS_CHILD | WS_VISIBLE, hwnd, 3, RECT{5, 6, 25, 16});
  ASSERT_TRUE(GetWindowRect(child, &rect));
  EXPECT_EQ(rect.left, 5);
  EXPECT_EQ(rect.top, 32);
  ASSERT_TRUE(SetWindowPos(hwnd, nullptr, 10, 40, 100, 100, SWP_NOZORDER));
  ASSERT_TRUE(GetWindowRect(child, &rect));  // children move with their parent
  EXPECT_EQ(rect.left, 15);
  EXPECT_EQ(rect.top, 46);
  ASSERT_TRUE(SetWindowPos(hwnd, nullptr, 0, 0, 50, 60, SWP_NOMOVE | SWP_NOZORDER));
  ASSERT_TRUE(GetWindowRect(hwnd, &rect));
  EXPECT_EQ(rect.left, 10);
  EXPECT_EQ(rect.right, 60);
  EXPECT_EQ(rect.bottom, 100);

  WCHAR text[8];
  EXPECT_TRUE(SetWindowTextW(hwnd, u"GPS COM3:(57600)"));
  EXPECT_EQ(GetWindowTextLengthW(hwnd), 16);
  EXPECT_EQ(GetWindowTextW(hwnd, text, 8), 7);  // cut to the buffer, terminated
  EXPECT_EQ(std::u16string(text), u"GPS COM");
  SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"Quelmar"));
  EXPECT_EQ(GetWindowTextW(hwnd, text, 8), 7);
  EXPECT_EQ(std::u16string(text), u"Quelmar");
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_FALSE(IsWindowVisible(child));  // visible itself, but its parent is not shown
}

TEST(Windows, PaintComesFromInvalidPartsErasesWithTheClassBrushAndStopsOnceValidated) {
  RegisterTestClass(CreateSolidBrush(RGB(0, 0, 255)));
  HWND hwnd = MakeWindow();
  UpdateWindow(hwnd);  // paints at once
  EXPECT_THAT(MessagesOf(hwnd, {WM_PAINT, WM_ERASEBKGND}), ElementsAre(WM_PAINT, WM_ERASEBKGND));
  EXPECT_EQ(ScreenPixel(120, 150), 0x0000FFu);
  Pump();
  EXPECT_EQ(MessagesOf(hwnd, {WM_PAINT}).size(), 1u);  // validated: no more paints

  // Posted messages come before the paint, the paint before a due timer.
  const RECT part{0, 0, 10, 10};
  InvalidateRect(hwnd, &part, FALSE);
  PostMessageW(hwnd, WM_USER, 0, 0);
  SetTimer(hwnd, 1, 1, nullptr);
  Sleep(5);
  std::vector<UINT> order;
  for (int i = 0; i < 3; ++i) {
    MSG msg;
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    order.push_back(msg.message);
    if (msg.message == WM_PAINT) {
      RECT update;
      EXPECT_TRUE(GetUpdateRect(hwnd, &update, FALSE));
      EXPECT_EQ(update.right, 10);
    }
    DispatchMessageW(&msg);
  }
  KillTimer(hwnd, 1);
  EXPECT_THAT(order, ElementsAre(WM_USER, WM_PAINT, WM_TIMER));
  EXPECT_THAT(MessagesOf(hwnd, {WM_ERASEBKGND}).size(), 1u);  // this one asked for no erase
}

TEST(Windows, TimerTicksInItsWindowAtItsPeriod) {
  RegisterTestClass();
  HWND hwnd = MakeWindow();
  ASSERT_EQ(SetTimer(hwnd, 1, 100, nullptr), 1u);
  const DWORD start = GetTickCount();
  std::vector<DWORD> ticks;
  MSG msg;
  while (ticks.size() < 5 && GetMessageW(&msg, nullptr, 0, 0)) {
    if (msg.message == WM_TIMER) {
      EXPECT_EQ(msg.hwnd, hwnd);
      EXPECT_EQ(msg.wParam, 1u);
      ticks.push_back(GetTickCount() - start);
    }
    DispatchMessageW(&msg);
  }
  // Never early and never piled up: ticks stand at least a period apart;
  // and on time, as a rule (the median interval; a busy machine may delay
  // one tick).
  ASSERT_EQ(ticks.size(), 5u);
  std::vector<DWORD> intervals{ticks[0]};
  for (size_t i = 1; i < ticks.size(); ++i) intervals.push_back(ticks[i] - ticks[i - 1]);
  for (DWORD interval : intervals) EXPECT_GE(interval, 99u);
  std::sort(intervals.begin(), intervals.end());
  EXPECT_LE(intervals[2], 120u);
  EXPECT_TRUE(KillTimer(hwnd, 1));
  DestroyWindow(hwnd);
  EXPECT_FALSE(SetTimer(hwnd, 1, 100, nullptr));  // no timers for dead windows
}

TEST(Windows, SendMessageFromAnotherThreadRunsOnTheOwnersThreadAndWaitsForTheResult) {
  RegisterTestClass();
  HWND hwnd = MakeWindow();
  const DWORD owner = GetCurrentThreadId();
  LRESULT textLength = -1;
  std::thread sender([&] {
    SetWindowTextW(hwnd, u"from afar");  // sent: runs on the owner's thread
    textLength = GetWindowTextLengthW(hwnd);
    PostMessageW(hwnd, WM_USER + 1, 0, 0);
  });
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) && msg.message != WM_USER + 1) DispatchMessageW(&msg);
  sender.join();
  EXPECT_EQ(textLength, 9);
  for (const Received& r : All(WM_SETTEXT)) EXPECT_EQ(r.threadId, owner);
  EXPECT_EQ(All(WM_SETTEXT).size(), 1u);
}

TEST(Windows, TapsKeysAndTheCloseButtonReachTheirWindows) {
  RegisterTestClass();
  HWND main = CreateWindowExW(WS_EX_CAPTIONOKBTN, u"TestWindow", u"Main", WS_VISIBLE,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                              nullptr, nullptr, nullptr);
  HWND child = MakeWindow(WS_CHILD | WS_VISIBLE, main, 5, RECT{100, 100, 140, 120});
  ACCEL keys[] = {{FVIRTKEY | FALT, VK_F4, 40002}};
  HACCEL accelerators = CreateAcceleratorTableW(keys, 1);

  handheld::TapScreen(110, 130);  // the child at (10, 4) of its client area
  handheld::TapScreen(20, 50);    // the main window
  handheld::TapScreen(220, 12);   // the top bar's ok button
  handheld::PressKey(VK_F4, 0, true);
  handheld::PressKey(VK_F4, 0);   // F4 without Alt is no accelerator
  handheld::PressKey('A', u'a');
  Pump(50, accelerators);

  std::vector<Received> downs = All(WM_LBUTTONDOWN);
  ASSERT_EQ(downs.size(), 2u);
  EXPECT_EQ(downs[0].hwnd, child);
  EXPECT_EQ(downs[0].lParam, MAKELPARAM(10, 4));
  EXPECT_EQ(downs[1].hwnd, main);
  EXPECT_EQ(downs[1].lParam, MAKELPARAM(20, 24));
  EXPECT_EQ(All(WM_LBUTTONUP).size(), 2u);
  std::vector<Received> commands = All(WM_COMMAND);
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].wParam, MAKEWPARAM(IDOK, 0));
  EXPECT_EQ(commands[1].wParam, MAKEWPARAM(40002, 1));
  std::vector<Received> chars = All(WM_CHAR);
  ASSERT_EQ(chars.size(), 1u);
  EXPECT_EQ(chars[0].wParam, static_cast<WPARAM>(u'a'));
  EXPECT_EQ(All(WM_SYSKEYDOWN).size(), 0u);  // the accelerator took it
  EXPECT_EQ(All(WM_KEYDOWN).size(), 2u);

  handheld::RequestClose();  // the X11 window's close button
  Pump();
  EXPECT_EQ(All(WM_CLOSE).size(), 1u);
  EXPECT_FALSE(IsWindow(main));
}

// Resources as a resource script gives them (WindowTest.rc), compiled and
// embedded by the build.
TEST(Resources, FromTheCompiledScriptAreFoundThroughTheProgramsInstance) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  ASSERT_NE(instance, nullptr);
  WCHAR text[101];
  EXPECT_EQ(LoadStringW(instance, 1, text, 101), 11);
  EXPECT_EQ(std::u16string(text), u"Quelmar 3.4");
  EXPECT_EQ(LoadStringW(instance, 3, text, 4), 3);
  EXPECT_EQ(std::u16string(text), u"QUE");
  EXPECT_EQ(LoadStringW(instance, 20, text, 101), 12);  // the second block of 16
  EXPECT_EQ(std::u16string(text), u"Second block");
  EXPECT_EQ(LoadStringW(instance, 2, text, 101), 0);   // a gap in a block
  EXPECT_EQ(LoadStringW(instance, 40, text, 101), 0);  // no such block
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_NE(LoadIconW(instance, MAKEINTRESOURCEW(101)), nullptr);
  EXPECT_EQ(LoadIconW(instance, MAKEINTRESOURCEW(102)), nullptr);

  HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(102));
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(GetMenuItemCount(menu), 1);
  EXPECT_EQ(GetMenuItemCount(GetSubMenu(menu, 0)), 1);
  EXPECT_TRUE(DestroyMenu(menu));

  // Alt+F4 through the table gives its command.
  HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(3));
  ASSERT_NE(accelerators, nullptr);
  RegisterTestClass(nullptr);
  HWND window = CreateWindowExW(0, u"TestWindow", u"Keys", WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                nullptr, nullptr, nullptr);
  MSG key = {window, WM_SYSKEYDOWN, VK_F4, 1L << 29, 0, {0, 0}};
  EXPECT_EQ(TranslateAcceleratorW(window, accelerators, &key), 1);
  key.wParam = VK_F1;
  EXPECT_EQ(TranslateAcceleratorW(window, accelerators, &key), 0);
  DestroyWindow(window);
  EXPECT_TRUE(DestroyAcceleratorTable(accelerators));

  // The dialog is the DLGTEMPLATE the resource compiler wrote.
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(104), RT_DIALOG);
  ASSERT_NE(found, nullptr);
  const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(instance, found)));
  ASSERT_NE(bytes, nullptr);
  DLGTEMPLATE head;
  std::memcpy(&head, bytes, sizeof head);
  EXPECT_EQ(head.style, WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT);
  EXPECT_EQ(head.cdit, 2);
  EXPECT_EQ(head.cx, 103);
  EXPECT_EQ(head.cy, 135);
  EXPECT_GT(SizeofResource(instance, found), sizeof head);

  EXPECT_EQ(FindResourceW(instance, MAKEINTRESOURCEW(105), RT_DIALOG), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

// An image in the standard resource format, built by hand: each entry its
// data size, header size, type and name (0xFFFF and an ordinal), data and
// memory flags, language, version and characteristics, then its data.
std::vector<BYTE> ResourceEntry(WORD type, WORD name, const std::vector<BYTE>& data) {
  std::vector<BYTE> out;
  auto dword = [&](DWORD v) { for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i))); };
  dword(static_cast<DWORD>(data.size()));
  dword(32);
  dword(0xFFFFu | static_cast<DWORD>(type) << 16);
  dword(0xFFFFu | static_cast<DWORD>(name) << 16);
  for (int i = 0; i < 4; ++i) dword(0);
  out.insert(out.end(), data.begin(), data.end());
  while (out.size() % 4) out.push_back(0);
  return out;
}

TEST(Resources, AnImageNotInTheFormatIsRefusedWhole) {
  // Block 20 of strings: id 304 ("Hi") is its first.
  const std::vector<BYTE> strings = {2, 0, 'H', 0, 'i', 0};
  std::vector<BYTE> image = ResourceEntry(0, 0, {});
  const std::vector<BYTE> entry = ResourceEntry(6, 20, strings);
  image.insert(image.end(), entry.begin(), entry.end());

  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
  };
  std::vector<Case> cases = {{"cut inside a header", {image.begin(), image.begin() + 40}},
                             {"cut inside the data", {image.begin(), image.end() - 4}}};
  std::vector<BYTE> shortHeader = image;
  shortHeader[36] = 16;  // a header smaller than its fields
  cases.push_back({"a header too small", shortHeader});
  std::vector<BYTE> longData = image;
  longData[32] = 200;  // more data than the image holds
  cases.push_back({"data past the end", longData});
  std::vector<BYTE> unterminated = image;
  for (size_t i = 40; i < 64; ++i) unterminated[i] = 'A';  // a name running through the header
  cases.push_back({"a name without its end", unterminated});
  // Images belong to the module whose memory holds them, and live as long.
  alignas(4) static BYTE held[6][128];
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    ASSERT_LE(cases[i].bytes.size(), sizeof held[i]);
    std::memcpy(held[i], cases[i].bytes.data(), cases[i].bytes.size());
    EXPECT_FALSE(DeclareResourceImage(held[i], static_cast<DWORD>(cases[i].bytes.size())));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  }
  WCHAR text[8];
  EXPECT_EQ(LoadStringW(GetModuleHandleW(nullptr), 304, text, 8), 0) << "nothing was registered";

  ASSERT_LE(image.size(), sizeof held[5]);
  std::memcpy(held[5], image.data(), image.size());
  ASSERT_TRUE(DeclareResourceImage(held[5], static_cast<DWORD>(image.size())));
  EXPECT_EQ(LoadStringW(GetModuleHandleW(nullptr), 304, text, 8), 2);
  EXPECT_EQ(std::u16string(text), u"Hi");
}

}  // namespace

namespace {

// A main window with the top bar's ok button, a static text, a push button
// and a dialog-like captioned popup, with the wait cursor over it all.
void DrawScene() {
  RegisterTestClass(reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1)));
  HWND main = CreateWindowExW(WS_EX_CAPTIONOKBTN, u"TestWindow", u"GPS COM3:(57600)", WS_VISIBLE,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                              nullptr, nullptr, nullptr);
  CreateWindowExW(0, u"STATIC", u"Satellites: &8", WS_CHILD | WS_VISIBLE, 10, 10, 150, 20, main,
                  nullptr, nullptr, nullptr);
  CreateWindowExW(0, u"BUTTON", u"Reconnect", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 10, 40,
                  80, 24, main, nullptr, nullptr, nullptr);
  CreateWindowExW(0, u"EDIT", u"Quelmar.log", WS_CHILD | WS_VISIBLE, 100, 40, 120, 20, main,
                  nullptr, nullptr, nullptr);
  CreateWindowExW(0, u"TestWindow", u"Popup", WS_POPUP | WS_CAPTION | WS_VISIBLE, 40, 200, 160, 60,
                  main, nullptr, nullptr, nullptr);
  SetActiveWindow(main);
  Pump();
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

}  // namespace

TEST(Windows, ScreenShowsTopBarControlsCaptionAndWaitCursor) {
  DrawScene();
  EXPECT_EQ(ScreenPicture::ScreenDifference(std::string(HANDHELD_PLATFORM_TEST_DATA) +
                                            "/window-screen.png"),
            "");
}

TEST(Shell, CommandBarMenuOpensOnATapItsItemsCommandAndCloseClosesFullScreenLowersTheTopBar) {
  RegisterTestClass(reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1)));
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HWND main = MakeWindow();
  HWND bar = CommandBar_Create(instance, main, 1);
  ASSERT_NE(bar, nullptr);
  ASSERT_TRUE(CommandBar_InsertMenubar(bar, instance, 102, 0));
  ASSERT_TRUE(CommandBar_AddAdornments(bar, 0, 0));
  ASSERT_TRUE(CommandBar_Show(bar, TRUE));
  EXPECT_EQ(GetActiveWindow(), main);  // the bar does not take activation
  EXPECT_EQ(CommandBar_Height(bar), 26);

  EXPECT_EQ(ScreenPixel(5, 5), 0x000080u);  // the top bar
  EXPECT_TRUE(SHFullScreen(main, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON));
  // Beneath the windows while this one is active; it covers the work area
  // only, so the bar still shows.
  EXPECT_EQ(ScreenPixel(5, 5), 0x000080u);
  SHACTIVATEINFO info{};
  info.cbSize = 12;
  EXPECT_TRUE(SHHandleWMActivate(main, WA_ACTIVE, 0, &info, 0));
  EXPECT_EQ(info.fActive, 1u);
  EXPECT_TRUE(SHHandleWMSettingChange(main, 0, 0, &info));

  handheld::TapScreen(12, 307);  // "File" on the bar opens its popup above it
  Pump();
  EXPECT_EQ(ScreenPicture::ScreenDifference(std::string(HANDHELD_PLATFORM_TEST_DATA) +
                                            "/command-bar.png"),
            "");

  handheld::TapScreen(20, 284);  // "Exit", the popup's one item
  Pump();
  std::vector<Received> commands = All(WM_COMMAND);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].hwnd, main);
  EXPECT_EQ(LOWORD(commands[0].wParam), 40002);

  handheld::TapScreen(12, 307);  // open again, then a tap elsewhere only closes it
  Pump();
  ASSERT_NE(FindWindowW(u"#MenuPopup", nullptr), nullptr);
  handheld::TapScreen(120, 100);
  Pump();
  EXPECT_EQ(All(WM_LBUTTONDOWN).size(), 0u);
  EXPECT_EQ(FindWindowW(u"#MenuPopup", nullptr), nullptr);

  handheld::TapScreen(230, 307);  // the close button
  Pump();
  EXPECT_EQ(All(WM_CLOSE).size(), 1u);
  EXPECT_FALSE(IsWindow(main));
  EXPECT_FALSE(IsWindow(bar));  // went with its owner

  // A full-screen window over the lowered bar hides it and has its taps.
  HWND whole = MakeWindow(WS_VISIBLE, nullptr, 0, RECT{0, 0, 240, 320});
  EXPECT_TRUE(SHFullScreen(whole, SHFS_HIDETASKBAR));
  Pump();
  EXPECT_EQ(ScreenPixel(5, 5), 0xFFFFFFu);
  handheld::TapScreen(220, 12);
  Pump();
  std::vector<Received> downs = All(WM_LBUTTONDOWN);
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0].hwnd, whole);
  EXPECT_EQ(All(WM_COMMAND).size(), 1u);
  DestroyWindow(whole);
}
