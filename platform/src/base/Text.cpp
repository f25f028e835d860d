// Helpers for NUL-terminated UTF-16 text.
#include "windows.h"

namespace {

WCHAR FoldAscii(WCHAR c) { return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 32) : c; }

int Sign(int d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

}  // namespace

size_t wcslen(const WCHAR* s) {
  const WCHAR* p = s;
  while (*p) ++p;
  return static_cast<size_t>(p - s);
}

WCHAR* wcscpy(WCHAR* dst, const WCHAR* src) {
  WCHAR* d = dst;
  while ((*d++ = *src++) != 0) {
  }
  return dst;
}

WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n) {
  size_t i = 0;
  for (; i < n && src[i]; ++i) dst[i] = src[i];
  for (; i < n; ++i) dst[i] = 0;
  return dst;
}

WCHAR* wcscat(WCHAR* dst, const WCHAR* src) {
  wcscpy(dst + wcslen(dst), src);
  return dst;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
  while (*a && *a == *b) ++a, ++b;
  return static_cast<int>(*a) - static_cast<int>(*b);
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i] || !a[i]) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
  }
  return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) {
  return _wcsnicmp(a, b, static_cast<size_t>(-1));
}

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    WCHAR x = FoldAscii(a[i]), y = FoldAscii(b[i]);
    if (x != y || !x) return static_cast<int>(x) - static_cast<int>(y);
  }
  return 0;
}

const WCHAR* wcsstr(const WCHAR* hay, const WCHAR* needle) {
  size_t n = wcslen(needle);
  if (n == 0) return hay;
  for (; *hay; ++hay)
    if (wcsncmp(hay, needle, n) == 0) return hay;
  return nullptr;
}

WCHAR* wcsstr(WCHAR* hay, const WCHAR* needle) {
  return const_cast<WCHAR*>(wcsstr(static_cast<const WCHAR*>(hay), needle));
}

const WCHAR* wcschr(const WCHAR* s, WCHAR c) {
  for (;; ++s) {
    if (*s == c) return s;
    if (!*s) return nullptr;
  }
}

WCHAR* wcschr(WCHAR* s, WCHAR c) { return const_cast<WCHAR*>(wcschr(static_cast<const WCHAR*>(s), c)); }

// The lstr* family accepts null pointers, as the platform's does: a null
// text counts as empty, a null destination leaves nothing written.

int lstrlenW(LPCWSTR s) { return s ? static_cast<int>(wcslen(s)) : 0; }

LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src) {
  if (!dst) return nullptr;
  return wcscpy(dst, src ? src : u"");
}

LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int maxChars) {
  if (!dst || maxChars <= 0) return dst;
  int i = 0;
  if (src)
    for (; i < maxChars - 1 && src[i]; ++i) dst[i] = src[i];
  dst[i] = 0;
  return dst;
}

LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src) {
  if (!dst) return nullptr;
  return wcscat(dst, src ? src : u"");
}

// No string (a null pointer) sorts before every string, the empty one too.
int lstrcmpW(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  return Sign(wcscmp(a, b));
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  return Sign(_wcsicmp(a, b));
}
