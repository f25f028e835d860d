#pragma once

#include <windows.h>

#include <aygshell.h>

#include "DisplaySnapshot.h"
#include "QuelmarResources.h"

// Quelmar's one top-level window: its start-up, the creation handler that
// finds and opens the receiver's port, the 500 ms poll that drains the
// decoded sentences into the status page, the commands and the ways the
// program ends. Everything runs on the UI thread.
class MainWindow {
 public:
  // Command ids.
  static const WORD kCaptionOk = 1;  // IDOK
  static const WORD kExit = IDM_EXIT;
  static const WORD kStartLog = 40004;
  static const WORD kStopLog = 40005;
  static const WORD kReconnect = 40006;
  static const WORD kDisconnect = 40007;
  static const WORD kFirmwareInfo = 40008;

  // Resource ids (the resource script's).
  static const UINT kTitleString = IDS_TITLE;
  static const UINT kClassString = IDS_CLASS;
  static const WORD kIcon = IDI_QUELMAR;
  static const WORD kMenu = IDR_MAIN_MENU;
  static const WORD kAccelerators = IDR_ACCELERATORS;
  static const WORD kFirmwareDialog = IDD_FIRMWARE_INFO;

  static const DWORD kBaudRate = 57600;
  static const UINT_PTR kPollTimer = 1;
  static const UINT kPollMs = 500;

  // Registers the class, creates and shows the window (the creation
  // handler runs inside) and asks for the full screen. False when no
  // window results.
  static BOOL Startup(HINSTANCE instance, int show);
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  // One tick: drains every complete sentence of the current reader into
  // the snapshot (and the log), then repaints when the receiver sent new
  // data: a new RMC sentence, or new GSV and GSA sentences both.
  static void Poll();

  static HINSTANCE instance;
  static HWND window;
  static DisplaySnapshot snapshot;

 private:
  MainWindow() = delete;

  static void OnCreate(HWND window);
  static void OnDestroy();
  static bool OnCommand(WORD id);
  static void Reconnect();
  static void Disconnect();
  static void ShowFirmwareInfo();
  static void ShowPortInTitle(LPCWSTR port);
  static void ClearRecords();

  static HWND commandBar;
  static SHACTIVATEINFO activateInfo;
  static WORD lastGsvCount;
  static WORD lastGsaCount;
  static WORD lastRmcCount;
};
