// Files, windows and exports under the handheld's names on desktop
// Windows.
#include <windows.h>

#include <cwctype>

// The layer's own calls reach the real ones.
#undef CreateFileW
#undef CreateWindowExW

namespace {

// "COM3:" (one to three digits) as desktop Windows names it, "\\.\COM3";
// false for every other name.
bool DesktopPortName(LPCWSTR name, WCHAR (&out)[16]) {
  if (name == nullptr || std::towupper(name[0]) != L'C' || std::towupper(name[1]) != L'O' ||
      std::towupper(name[2]) != L'M')
    return false;
  int digits = 0;
  while (digits < 4 && name[3 + digits] >= L'0' && name[3 + digits] <= L'9') ++digits;
  if (digits == 0 || digits > 3 || name[3 + digits] != L':' || name[4 + digits] != 0) return false;
  lstrcpyW(out, L"\\\\.\\COM");
  for (int i = 0; i < digits; ++i) out[7 + i] = name[3 + i];
  out[7 + digits] = 0;
  return true;
}

}  // namespace

HANDLE WINAPI HandheldCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                  HANDLE templateFile) {
  WCHAR port[16];
  if (DesktopPortName(name, port)) name = port;
  return CreateFileW(name, access, share, security, creation, flags, templateFile);
}

HWND WINAPI HandheldCreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style,
                                    int x, int y, int width, int height, HWND parent, HMENU menu,
                                    HINSTANCE instance, LPVOID param) {
  return CreateWindowExW(exStyle & ~static_cast<DWORD>(WS_EX_CAPTIONOKBTN), className, title,
                         style, x, y, width, height, parent, menu, instance, param);
}

FARPROC WINAPI GetProcAddressW(HMODULE module, LPCWSTR name) {
  if (IS_INTRESOURCE(name)) return GetProcAddress(module, reinterpret_cast<LPCSTR>(name));
  char narrow[256];
  int i = 0;
  for (; name[i] != 0; ++i) {
    if (name[i] > 0x7F || i + 1 >= static_cast<int>(sizeof narrow)) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    narrow[i] = static_cast<char>(name[i]);
  }
  narrow[i] = 0;
  return GetProcAddress(module, narrow);
}
