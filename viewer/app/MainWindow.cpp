#include "MainWindow.h"

#include <cstring>
#include <new>

#include <commctrl.h>

#include "BackBuffer.h"
#include "FindReceiverPort.h"
#include "FirmwareInfoDialog.h"
#include "LogFile.h"
#include "NmeaReader.h"
#include "ReceiverVersionQuery.h"
#include "SerialSession.h"
#include "StatusDisplay.h"
#include "ViewerState.h"

namespace {

const int kResourceTextChars = 100;
// FindReceiverPort's buffer: 25 wide characters.
const DWORD kPortBytes = 50;
const WCHAR kNoReceiver[] = TEXT("COM1:");
// Size of the shell's activation record on the handheld.
const DWORD kActivateInfoBytes = 12;
// Disconnect waits this long after closing the port before the reader goes.
const DWORD kDisconnectSettleMs = 200;

}  // namespace

HINSTANCE MainWindow::instance = nullptr;
HWND MainWindow::window = nullptr;
DisplaySnapshot MainWindow::snapshot = {};
HWND MainWindow::commandBar = nullptr;
SHACTIVATEINFO MainWindow::activateInfo = {};
WORD MainWindow::lastGsvCount = 0xFFFF;
WORD MainWindow::lastGsaCount = 0xFFFF;
WORD MainWindow::lastRmcCount = 0xFFFF;

BOOL MainWindow::Startup(HINSTANCE programInstance, int show) {
  instance = programInstance;

  WCHAR className[kResourceTextChars] = {};
  LoadString(instance, kClassString, className, kResourceTextChars);
  WNDCLASS windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIcon(instance, MAKEINTRESOURCE(kIcon));
  windowClass.hCursor = nullptr;
  windowClass.hbrBackground = nullptr;
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = className;
  RegisterClass(&windowClass);

  WCHAR title[kResourceTextChars] = {};
  LoadString(instance, kTitleString, title, kResourceTextChars);
  HWND created = CreateWindowEx(WS_EX_CAPTIONOKBTN, className, title, WS_VISIBLE, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                instance, nullptr);
  if (created == nullptr) return FALSE;
  window = created;

  ShowWindow(window, show);
  UpdateWindow(window);
  SHFullScreen(window, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON);
  if (commandBar != nullptr) CommandBar_Show(commandBar, TRUE);
  lastGsvCount = 0xFFFF;
  lastGsaCount = 0xFFFF;
  lastRmcCount = 0xFFFF;
  return TRUE;
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(hwnd);
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_ACTIVATE:
      SHHandleWMActivate(hwnd, wParam, lParam, &activateInfo, 0);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(hwnd, &paint);
      BackBuffer::RenderAndBlit(snapshot);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // the back buffer covers the whole client area
    case WM_SETTINGCHANGE:
      SHHandleWMSettingChange(hwnd, wParam, lParam, &activateInfo);
      return 0;
    case WM_COMMAND:
      if (OnCommand(LOWORD(wParam))) return 0;
      break;
    case WM_TIMER:
      Poll();
      return 0;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

void MainWindow::OnCreate(HWND hwnd) {
  window = hwnd;
  commandBar = CommandBar_Create(instance, hwnd, 1);
  CommandBar_InsertMenubar(commandBar, instance, kMenu, 0);
  CommandBar_AddAdornments(commandBar, 0, 0);
  activateInfo.cbSize = kActivateInfoBytes;
  BackBuffer::Make(hwnd);
  StatusDisplay::CreateFonts(hwnd);

  WCHAR port[kPortBytes / sizeof(WCHAR)];
  FindReceiverPort(port, kPortBytes);
  if (lstrcmp(port, kNoReceiver) == 0) {
    MessageBox(hwnd, TEXT("Sleeve Not Attached"), TEXT("Error"), MB_OK);
    ExitProcess(1);
  }

  ViewerState::session = new (std::nothrow) SerialSession(port, kBaudRate);
  ClearRecords();
  ViewerState::CreateCurrentReader();
  // A port that does not open has said why in a message box; the page then
  // stays cleared and Reconnect may try again.
  if (ViewerState::session != nullptr) ViewerState::session->Reopen();
  ShowPortInTitle(port);
  SetTimer(hwnd, kPollTimer, kPollMs, nullptr);

  HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  ReadReceiverVersion(ViewerState::Readers(), snapshot.swVersion, DisplaySnapshot::kTextChars);
  FirmwareInfoDialog::ActiveDriverText(snapshot.activeDriver);
  FirmwareInfoDialog::InstalledDriversText(snapshot.installedDrivers);
  SetCursor(previous);
}

void MainWindow::OnDestroy() {
  CommandBar_Destroy(commandBar);
  commandBar = nullptr;
  PostQuitMessage(0);
  ViewerState::DeleteSession();
  LogFile::Stop();
}

void MainWindow::Poll() {
  NmeaReader* reader = ViewerState::currentReader;
  if (reader != nullptr) {
    bool logged = false;
    char sentence[NmeaReader::kSentenceBufferSize];
    WORD length = 0;
    while (reader->HasSentence()) {
      if (!reader->ReadSentence(sentence, length)) continue;
      reader->DecodeSentence(sentence);
      snapshot.gsv = reader->Gsv();
      snapshot.gsa = reader->Gsa();
      snapshot.rmc = reader->Rmc();
      if (LogFile::IsOpen()) {
        LogFile::Append(sentence, length);
        logged = true;
      }
    }
    // What this tick wrote is on disk before it returns: the caption's OK
    // button ends the program without closing the log.
    if (logged) LogFile::Flush();
  }

  const bool rmcChanged = snapshot.rmc.count != lastRmcCount;
  const bool gsvAndGsaChanged =
      snapshot.gsv.count != lastGsvCount && snapshot.gsa.count != lastGsaCount;
  if (!rmcChanged && !gsvAndGsaChanged) return;
  lastGsvCount = snapshot.gsv.count;
  lastGsaCount = snapshot.gsa.count;
  lastRmcCount = snapshot.rmc.count;
  BackBuffer::RenderAndBlit(snapshot);
}

bool MainWindow::OnCommand(WORD id) {
  switch (id) {
    case kCaptionOk:
      ExitProcess(1);
      return true;
    case kExit:
      if (ViewerState::session != nullptr) ViewerState::session->Close();
      DestroyWindow(window);
      return true;
    case kStartLog:
      LogFile::Start(window, instance);
      return true;
    case kStopLog:
      LogFile::Stop();
      return true;
    case kReconnect:
      Reconnect();
      return true;
    case kDisconnect:
      Disconnect();
      return true;
    case kFirmwareInfo:
      ShowFirmwareInfo();
      return true;
  }
  return false;
}

void MainWindow::Reconnect() {
  SerialSession* session = ViewerState::session;
  if (session == nullptr || session->IsOpen()) return;
  WCHAR port[kPortBytes / sizeof(WCHAR)];
  FindReceiverPort(port, kPortBytes);
  session->SetPortName(port);
  // A reader left from a start-up whose port did not open goes first: a
  // reader's destructor detaches the session's sink whoever attached it.
  ViewerState::CreateCurrentReader();
  session->Reopen();
  ShowPortInTitle(port);
  SetTimer(window, kPollTimer, kPollMs, nullptr);
}

void MainWindow::Disconnect() {
  if (ViewerState::session != nullptr) ViewerState::session->Close();
  Sleep(kDisconnectSettleMs);
  ClearRecords();
  BackBuffer::RenderAndBlit(snapshot);
  ViewerState::DeleteCurrentReader();
  KillTimer(window, kPollTimer);
  SetWindowText(window, TEXT("Quelmar"));
}

void MainWindow::ShowFirmwareInfo() {
  KillTimer(window, kPollTimer);
  HRSRC found = FindResource(instance, MAKEINTRESOURCE(kFirmwareDialog), RT_DIALOG);
  HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
  LPCDLGTEMPLATE dialog = loaded != nullptr ? static_cast<LPCDLGTEMPLATE>(LockResource(loaded)) : nullptr;
  if (dialog != nullptr)
    DialogBoxIndirectParam(instance, dialog, window, FirmwareInfoDialog::DialogProc, 0);
  SetTimer(window, kPollTimer, kPollMs, nullptr);
}

void MainWindow::ShowPortInTitle(LPCWSTR port) {
  const DWORD rate = ViewerState::session != nullptr ? ViewerState::session->BaudRate() : kBaudRate;
  WCHAR title[64];
  wsprintf(title, TEXT("GPS %s(%d)"), port, static_cast<int>(rate));
  SetWindowText(window, title);
}

void MainWindow::ClearRecords() {
  std::memset(&snapshot.gsv, 0, sizeof snapshot.gsv);
  std::memset(&snapshot.gsa, 0, sizeof snapshot.gsa);
  std::memset(&snapshot.rmc, 0, sizeof snapshot.rmc);
}
