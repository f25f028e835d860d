// Windows, window messages, dialogs, menus, accelerators, cursors and
// resources.
//
// Each process has one screen of 240 x 320 pixels: a top bar of 26 pixels
// shows the active window's title (and an "ok" button for a window with
// WS_EX_CAPTIONOKBTN); below it lies the work area that CW_USEDEFAULT gives a
// top-level window. A window procedure runs on the thread that created the
// window; SendMessage from another thread waits until that thread has run it.
#pragma once

#include "win/core.h"
#include "win/gdi.h"
#include "win/kernel.h"
#include "win/messages.h"
#include "win/types.h"

typedef struct HMENU__* HMENU;
typedef struct HACCEL__* HACCEL;
typedef struct HICON__* HICON;
typedef HICON HCURSOR;
typedef struct HRSRC__* HRSRC;
typedef void* HGLOBAL;
typedef WORD ATOM;
typedef intptr_t INT_PTR;
typedef int16_t SHORT;

#define ERROR_INVALID_MENU_HANDLE 1401L
#define ERROR_INVALID_CURSOR_HANDLE 1402L
#define ERROR_INVALID_ACCEL_HANDLE 1403L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_CLASS_DOES_NOT_EXIST 1411L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(static_cast<WORD>(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEW
#define IS_INTRESOURCE(p) ((reinterpret_cast<uintptr_t>(p) >> 16) == 0)
#define LOWORD(l) ((WORD)(((uintptr_t)(l)) & 0xFFFF))
#define HIWORD(l) ((WORD)((((uintptr_t)(l)) >> 16) & 0xFFFF))
#define MAKELONG(a, b) \
  (static_cast<LONG>(static_cast<WORD>(a) | (static_cast<DWORD>(static_cast<WORD>(b)) << 16)))
#define MAKEWPARAM(l, h) (static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(l, h))))
#define MAKELPARAM(l, h) (static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(l, h))))

// Exported from the platform's shared library; everything else in it is
// hidden.
#pragma GCC visibility push(default)

// ---- messages ----
#define WM_CREATE 0x0001u
#define WM_DESTROY 0x0002u
#define WM_MOVE 0x0003u
#define WM_SIZE 0x0005u
#define WM_ACTIVATE 0x0006u
#define WM_SETFOCUS 0x0007u
#define WM_KILLFOCUS 0x0008u
#define WM_ENABLE 0x000Au
#define WM_SETTEXT 0x000Cu
#define WM_GETTEXT 0x000Du
#define WM_GETTEXTLENGTH 0x000Eu
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_ERASEBKGND 0x0014u
#define WM_SHOWWINDOW 0x0018u
#define WM_SETTINGCHANGE 0x001Au
#define WM_SETFONT 0x0030u
#define WM_GETFONT 0x0031u
#define WM_KEYDOWN 0x0100u
#define WM_KEYUP 0x0101u
#define WM_CHAR 0x0102u
#define WM_SYSKEYDOWN 0x0104u
#define WM_SYSKEYUP 0x0105u
#define WM_SYSCHAR 0x0106u
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define WM_MOUSEMOVE 0x0200u
#define WM_LBUTTONDOWN 0x0201u
#define WM_LBUTTONUP 0x0202u

#define WA_INACTIVE 0
#define WA_ACTIVE 1

// Virtual keys.
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_DELETE 0x2E
#define VK_F1 0x70
#define VK_F4 0x73
#define VK_F5 0x74
#define VK_F6 0x75

// ---- window classes and windows ----
typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#define CS_VREDRAW 0x0001u
#define CS_HREDRAW 0x0002u
#define CS_DBLCLKS 0x0008u

typedef struct tagWNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;  // a brush, or a COLOR_ index plus one; null: not erased
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
} WNDCLASSW, *LPWNDCLASSW;
typedef WNDCLASSW WNDCLASS;
// Class names are compared without regard to ASCII case. Registering a name
// twice fails with ERROR_CLASS_ALREADY_EXISTS. Built in: "STATIC", "BUTTON",
// "EDIT".
ATOM RegisterClassW(const WNDCLASSW* wc);
#define RegisterClass RegisterClassW
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);
#define UnregisterClass UnregisterClassW

#define WS_OVERLAPPED 0x00000000u
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CLIPSIBLINGS 0x04000000u
#define WS_CLIPCHILDREN 0x02000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_DLGFRAME 0x00400000u
#define WS_VSCROLL 0x00200000u
#define WS_HSCROLL 0x00100000u
#define WS_SYSMENU 0x00080000u
#define WS_GROUP 0x00020000u
#define WS_TABSTOP 0x00010000u
#define WS_EX_DLGMODALFRAME 0x00000001u
#define WS_EX_TOPMOST 0x00000008u
#define WS_EX_WINDOWEDGE 0x00000100u
#define WS_EX_CLIENTEDGE 0x00000200u
#define WS_EX_CAPTIONOKBTN 0x80000000u  // an "ok" button in the top bar: WM_COMMAND IDOK

#define CW_USEDEFAULT (static_cast<int>(0x80000000u))

typedef struct tagCREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
} CREATESTRUCTW, *LPCREATESTRUCTW;
typedef CREATESTRUCTW CREATESTRUCT;
typedef LPCREATESTRUCTW LPCREATESTRUCT;

// WM_CREATE runs inside; when it returns -1 the window is destroyed and
// NULL returned. For a child `menu` is its id.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
#define CreateWindowEx CreateWindowExW
#define CreateWindowW(c, n, s, x, y, w, h, p, m, i, a) \
  CreateWindowExW(0, c, n, s, x, y, w, h, p, m, i, a)
#define CreateWindow CreateWindowW
// WM_DESTROY goes to the window, then to its children; the handles die after.
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
BOOL IsWindowVisible(HWND hwnd);
BOOL IsWindowEnabled(HWND hwnd);
BOOL EnableWindow(HWND hwnd, BOOL enable);
HWND GetParent(HWND hwnd);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND hwnd);
// The top-level window of this class (and title, if given), or NULL.
HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);
#define FindWindow FindWindowW

// Handles WM_CLOSE (destroys the window), WM_ERASEBKGND (fills with the
// class brush), WM_PAINT (validates), WM_SETTEXT/WM_GETTEXT and
// WM_GETTEXTLENGTH; 0 for the rest.
LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
#define DefWindowProc DefWindowProcW
LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
#define CallWindowProc CallWindowProcW

#define GWL_WNDPROC (-4)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_USERDATA (-21)
#define GWL_ID (-12)
LONG GetWindowLongW(HWND hwnd, int index);
LONG SetWindowLongW(HWND hwnd, int index, LONG value);
#define GetWindowLong GetWindowLongW
#define SetWindowLong SetWindowLongW

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text);  // sends WM_SETTEXT
#define SetWindowText SetWindowTextW
int GetWindowTextW(HWND hwnd, LPWSTR buffer, int maxChars);  // always terminates
#define GetWindowText GetWindowTextW
int GetWindowTextLengthW(HWND hwnd);
#define GetWindowTextLength GetWindowTextLengthW
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
#define SetDlgItemText SetDlgItemTextW
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int maxChars);
#define GetDlgItemText GetDlgItemTextW

// Rectangles: the window's in screen coordinates, the client area's from (0, 0).
BOOL GetClientRect(HWND hwnd, LPRECT rect);
BOOL GetWindowRect(HWND hwnd, LPRECT rect);
BOOL ClientToScreen(HWND hwnd, LPPOINT point);
BOOL ScreenToClient(HWND hwnd, LPPOINT point);

#define HWND_TOP (static_cast<HWND>(nullptr))
#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOZORDER 0x0004u
#define SWP_NOACTIVATE 0x0010u
#define SWP_SHOWWINDOW 0x0040u
#define SWP_HIDEWINDOW 0x0080u
// Positions are relative to the parent's client area (the screen for a
// top-level window).
BOOL SetWindowPos(HWND hwnd, HWND after, int x, int y, int width, int height, UINT flags);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWNA 8
// Returns whether the window was visible before.
BOOL ShowWindow(HWND hwnd, int command);
BOOL UpdateWindow(HWND hwnd);  // sends WM_PAINT now when anything is invalid
HWND SetActiveWindow(HWND hwnd);
HWND GetActiveWindow();
BOOL SetForegroundWindow(HWND hwnd);
HWND GetForegroundWindow();
HWND SetFocus(HWND hwnd);
HWND GetFocus();
HWND SetCapture(HWND hwnd);
BOOL ReleaseCapture();
HWND GetCapture();
// Modifier keys as the thread's input last left them: high bit set while down.
SHORT GetKeyState(int virtualKey);
SHORT GetAsyncKeyState(int virtualKey);

// ---- painting ----
typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;
// A null rectangle means the whole client area.
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND hwnd, const RECT* rect);
BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL erase);
// Sends WM_ERASEBKGND when the invalidation asked for it, validates the
// window and gives a device context clipped to the update rectangle.
HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint);

// ---- sending and posting ----
LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
#define SendMessage SendMessageW
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
#define SendDlgItemMessage SendDlgItemMessageW
// Posts to the queue of the window's thread; a null hwnd posts to the
// calling thread.
BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
#define PostMessage PostMessageW

// ---- cursors and icons ----
#define IDC_ARROW MAKEINTRESOURCEW(32512)
#define IDC_WAIT MAKEINTRESOURCEW(32514)
#define IDI_APPLICATION MAKEINTRESOURCEW(32512)
// With a null instance, the system's cursors.
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);
#define LoadCursor LoadCursorW
// The wait cursor is drawn in the middle of the screen while it is set.
// Returns the previous cursor.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
#define LoadIcon LoadIconW
BOOL DestroyIcon(HICON icon);

// ---- menus ----
#define MF_STRING 0x0000u
#define MF_GRAYED 0x0001u
#define MF_DISABLED 0x0002u
#define MF_CHECKED 0x0008u
#define MF_POPUP 0x0010u
#define MF_END 0x0080u
#define MF_SEPARATOR 0x0800u
#define MF_BYCOMMAND 0x0000u
#define MF_BYPOSITION 0x0400u
HMENU LoadMenuW(HINSTANCE instance, LPCWSTR name);
#define LoadMenu LoadMenuW
BOOL DestroyMenu(HMENU menu);
HMENU GetSubMenu(HMENU menu, int position);
int GetMenuItemCount(HMENU menu);

// ---- accelerators ----
#define FVIRTKEY 0x01u
#define FNOINVERT 0x02u
#define FSHIFT 0x04u
#define FCONTROL 0x08u
#define FALT 0x10u
typedef struct tagACCEL {
  BYTE fVirt;
  WORD key;
  WORD cmd;
} ACCEL, *LPACCEL;
HACCEL LoadAcceleratorsW(HINSTANCE instance, LPCWSTR name);
#define LoadAccelerators LoadAcceleratorsW
HACCEL CreateAcceleratorTableW(LPACCEL entries, int count);
#define CreateAcceleratorTable CreateAcceleratorTableW
BOOL DestroyAcceleratorTable(HACCEL table);
// For a key message that matches an entry (virtual key with exactly its
// Alt, Shift and Control modifiers), sends WM_COMMAND (id, 1) to `hwnd` and
// returns nonzero; else 0.
int TranslateAcceleratorW(HWND hwnd, HACCEL table, LPMSG msg);
#define TranslateAccelerator TranslateAcceleratorW

// ---- resources ----
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_MENU MAKEINTRESOURCEW(4)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_ACCELERATOR MAKEINTRESOURCEW(9)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)

// A program's entry, which the program defines: the handheld's run-time
// start-up (the stand-in's platform_startup library) calls it with the
// program's instance, no previous instance, the command line after the
// program's name and SW_SHOW, and ends the process with its result.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);

// The program's own module (a null name); other names are not looked up.
HMODULE GetModuleHandleW(LPCWSTR name);
#define GetModuleHandle GetModuleHandleW

// Loads string `id` into the buffer (truncated, always terminated) and
// returns its length; 0 when there is no such string.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int maxChars);
#define LoadString LoadStringW
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
#define FindResource FindResourceW
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);

// A module's resources, as a resource compiler writes them in the standard
// binary resource format, embedded in the module by the build (cmake's
// add_resource_script), which registers them at start-up for the module
// that holds the image. The image must live as long as the module. False
// (ERROR_INVALID_DATA, nothing registered) for an image not in the format.
BOOL DeclareResourceImage(const void* image, DWORD size);

// ---- dialogs ----
#define DS_ABSALIGN 0x01u
#define DS_SETFONT 0x40u
#define DS_MODALFRAME 0x80u
#define DS_CENTER 0x0800u

#define SS_LEFT 0x0000u
#define SS_CENTER 0x0001u
#define SS_RIGHT 0x0002u
#define SS_NOPREFIX 0x0080u
#define BS_PUSHBUTTON 0x0000u
#define BS_DEFPUSHBUTTON 0x0001u
#define BS_TYPEMASK 0x000Fu
#define ES_LEFT 0x0000u
#define ES_AUTOHSCROLL 0x0080u
#define BN_CLICKED 0
#define BM_CLICK 0x00F5u
#define EM_SETSEL 0x00B1u
#define DM_GETDEFID (WM_USER + 0)
#define DM_SETDEFID (WM_USER + 1)
#define DC_HASDEFID 0x534B
#define IDC_STATIC (-1)

#pragma pack(push, 2)
typedef struct {
  DWORD style;
  DWORD dwExtendedStyle;
  WORD cdit;
  short x;
  short y;
  short cx;
  short cy;
} DLGTEMPLATE;
typedef struct {
  DWORD style;
  DWORD dwExtendedStyle;
  short x;
  short y;
  short cx;
  short cy;
  WORD id;
} DLGITEMTEMPLATE;
#pragma pack(pop)
static_assert(sizeof(DLGTEMPLATE) == 18, "DLGTEMPLATE is 18 bytes");
static_assert(sizeof(DLGITEMTEMPLATE) == 18, "DLGITEMTEMPLATE is 18 bytes");
typedef const DLGTEMPLATE* LPCDLGTEMPLATEW;
typedef LPCDLGTEMPLATEW LPCDLGTEMPLATE;

// What a dialog procedure returns: BOOL on the handheld (desktop Windows:
// INT_PTR). Programs that build for both declare their procedures with it.
typedef BOOL DIALOG_RESULT;
typedef DIALOG_RESULT(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
// Runs the dialog the template describes (in dialog units of its font) as
// a modal loop owned by `owner` (disabled meanwhile). The loop dispatches
// every message of the thread; Enter clicks the default push button,
// Escape sends WM_COMMAND IDCANCEL. Returns EndDialog's result, or -1.
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner,
                                DLGPROC proc, LPARAM param);
#define DialogBoxIndirectParam DialogBoxIndirectParamW
#define DialogBoxIndirect(i, t, o, p) DialogBoxIndirectParamW(i, t, o, p, 0)
BOOL EndDialog(HWND dialog, INT_PTR result);
// Dialog units to pixels for the dialog's font.
BOOL MapDialogRect(HWND dialog, LPRECT rect);
LONG GetDialogBaseUnits();
BOOL IsDialogMessageW(HWND dialog, LPMSG msg);
#define IsDialogMessage IsDialogMessageW

#pragma GCC visibility pop
