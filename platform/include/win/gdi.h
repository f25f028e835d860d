// Drawing: device contexts, bitmaps, brushes, fonts and text.
//
// The screen is 240 x 320 pixels of 32 bits at 96 dots per inch. Bitmaps
// made by CreateCompatibleBitmap are 32-bit colour, whatever the device
// context. Text is anti-aliased: glyphs are drawn in grey levels blended
// between the text colour and what lies beneath. Fonts are Liberation Sans
// (Arial's metrics) in regular, bold, italic and bold italic, whatever face
// name is asked for.
#pragma once

#include "win/types.h"

typedef void* HGDIOBJ;
typedef struct HDC__* HDC;
typedef struct HBITMAP__* HBITMAP;
typedef struct HBRUSH__* HBRUSH;
typedef struct HFONT__* HFONT;

#define RGB(r, g, b) \
  (static_cast<COLORREF>((static_cast<BYTE>(r)) | (static_cast<WORD>(static_cast<BYTE>(g)) << 8) | \
                         (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))
#define GetRValue(c) (static_cast<BYTE>(c))
#define GetGValue(c) (static_cast<BYTE>((c) >> 8))
#define GetBValue(c) (static_cast<BYTE>((c) >> 16))
#define CLR_INVALID 0xFFFFFFFFu

// Exported from the platform's shared library; everything else in it is
// hidden.
#pragma GCC visibility push(default)

// ---- device contexts ----
// GetDC(NULL) gives a device context on the whole screen.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
HDC CreateCompatibleDC(HDC dc);  // a memory device context; NULL: like the screen
BOOL DeleteDC(HDC dc);

#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define LOGPIXELSX 88
#define LOGPIXELSY 90
int GetDeviceCaps(HDC dc, int index);

// ---- objects ----
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
HBRUSH CreateSolidBrush(COLORREF color);
// Returns the object of the same kind that it replaces in the device
// context. A fresh device context holds the system font, a white brush and,
// in memory, a 1 x 1 bitmap.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Fails while the object is selected into a device context. Stock objects
// and system colour brushes are never deleted.
BOOL DeleteObject(HGDIOBJ object);

#define WHITE_BRUSH 0
#define BLACK_BRUSH 4
#define SYSTEM_FONT 13
#define DEFAULT_GUI_FONT 17
HGDIOBJ GetStockObject(int object);

// System colours; the index may carry SYS_COLOR_INDEX_FLAG.
#define SYS_COLOR_INDEX_FLAG 0x40000000
#define COLOR_ACTIVECAPTION 2
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_WINDOWTEXT 8
#define COLOR_CAPTIONTEXT 9
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_BTNSHADOW 16
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_BTNHIGHLIGHT 20
DWORD GetSysColor(int index);
HBRUSH GetSysColorBrush(int index);

// ---- filling and copying ----
// The brush may also be a system colour index plus one.
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
// The pixel at a point; CLR_INVALID outside the clip region.
COLORREF GetPixel(HDC dc, int x, int y);

#define SRCCOPY 0x00CC0020u
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop);

// ---- text ----
#define TRANSPARENT 1
#define OPAQUE 2
COLORREF SetTextColor(HDC dc, COLORREF color);  // black at first
COLORREF SetBkColor(HDC dc, COLORREF color);    // white at first
int SetBkMode(HDC dc, int mode);                // OPAQUE at first

#define LF_FACESIZE 32
#define FW_DONTCARE 0
#define FW_NORMAL 400
#define FW_BOLD 700
typedef struct tagLOGFONTW {
  LONG lfHeight;  // < 0: character height in pixels; > 0: cell height; 0: the default
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
} LOGFONTW, *LPLOGFONTW;
typedef LOGFONTW LOGFONT;
typedef LPLOGFONTW LPLOGFONT;
HFONT CreateFontIndirectW(const LOGFONTW* font);
#define CreateFontIndirect CreateFontIndirectW

typedef struct tagTEXTMETRICW {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  WCHAR tmFirstChar;
  WCHAR tmLastChar;
  WCHAR tmDefaultChar;
  WCHAR tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
} TEXTMETRICW, *LPTEXTMETRICW;
typedef TEXTMETRICW TEXTMETRIC;
typedef LPTEXTMETRICW LPTEXTMETRIC;
BOOL GetTextMetricsW(HDC dc, LPTEXTMETRICW metrics);
#define GetTextMetrics GetTextMetricsW

BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, LPSIZE size);
#define GetTextExtentPoint32 GetTextExtentPoint32W

// Text is placed with the top left corner of its first cell at (x, y).
#define ETO_OPAQUE 0x0002u
#define ETO_CLIPPED 0x0004u
BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count,
                 const int* dx);
#define ExtTextOut ExtTextOutW

// count -1: the text is NUL-terminated. Returns the height of the text.
// Without DT_NOPREFIX, "&" underlines the next character and "&&" draws one
// "&". Without DT_SINGLELINE, line feeds break lines; DT_WORDBREAK also
// breaks between words that would cross the right edge. DT_VCENTER needs
// DT_SINGLELINE. DT_CALCRECT only measures: it sets the rectangle's right
// (single line) or bottom edge.
#define DT_TOP 0x00000000u
#define DT_LEFT 0x00000000u
#define DT_CENTER 0x00000001u
#define DT_VCENTER 0x00000004u
#define DT_WORDBREAK 0x00000010u
#define DT_SINGLELINE 0x00000020u
#define DT_NOCLIP 0x00000100u
#define DT_CALCRECT 0x00000400u
#define DT_NOPREFIX 0x00000800u
int DrawTextW(HDC dc, LPCWSTR text, int count, LPRECT rect, UINT format);
#define DrawText DrawTextW

#pragma GCC visibility pop
