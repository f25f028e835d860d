#pragma once

#include <windows.h>

#include "DisplaySnapshot.h"

// The status page: one page of labelled values drawn from a DisplaySnapshot
// and from the UTC time of the current reader's GGA record. UI thread only.
class StatusDisplay {
 public:
  static const COLORREF kBlack = 0;
  static const COLORREF kGreen = 65280;  // RGB(0, 255, 0)
  static const COLORREF kRed = 255;      // RGB(255, 0, 0)

  // What a page item shows beside its label.
  enum PageValue {
    kSatellites,
    kMaxSignal,
    kAvgSignal,
    kMinSignal,
    kFix,
    kTime,
    kLatitude,
    kLongitude,
    kInstalledDrivers,
    kActiveDriver,
    kSwVersion,
  };
  // One label and its value, in pixels from the page's top left corner.
  // A value in the value font sits 3 pixels above its label.
  struct PageItem {
    LPCWSTR label;
    int labelX;
    int labelY;
    PageValue value;
    int valueX;
    int valueY;
    bool inValueFont;
  };
  static const int kPageItems = 11;
  // The page, in drawing order.
  static const PageItem kPageLayout[kPageItems];

  // Bold 12-point "Arial" for the values; the font it replaces in the
  // window's device context is the labels' font. Neither is ever deleted.
  static HFONT valueFont;
  static HFONT labelFont;

  // Makes both fonts from the window's device context. Called once.
  static void CreateFonts(HWND window);

  // Draws the whole page over what `dc` holds (the background is the
  // caller's). The time comes from ViewerState's current reader, 00:00:00
  // when there is none.
  static void PaintStatus(HDC dc, const DisplaySnapshot& snapshot);

  // Draws `text` left-aligned at the top of the rectangle from (x, y) as
  // wide as the text's characters at the font's widest and as high as the
  // font. Leaves the font and colour selected; the background is the
  // device context's.
  static void DrawLabel(LPCWSTR text, int x, int y, HDC dc, HFONT font, COLORREF color);
  // Draws `value` in decimal the same way.
  static void DrawNumber(int value, int x, int y, HDC dc, HFONT font, COLORREF color);

  // "hh:mm:ss GMT" from hhmmss, the hour taken modulo 24. `buffer` holds
  // at least kTimeChars characters.
  static const int kTimeChars = 24;
  static void FormatUtcTime(LPWSTR buffer, LONG utcTime);

  // "3D A" and the like for the fix modes 1 to 3, with the RMC status as
  // the last character; false, leaving `buffer` alone, for any other mode
  // (the page then shows the mode's character code). `buffer` holds at
  // least kFixChars characters.
  static const int kFixChars = 8;
  static bool FixText(LPWSTR buffer, char fixMode, char status);
  // Green while the RMC status is 'A' (valid), red otherwise.
  static COLORREF FixColor(char status);

  // The first 11 characters of the position text, then " North", " South"
  // (latitude) or " East", " West" (longitude) by the hemisphere letter.
  // `buffer` holds at least kPositionChars characters.
  static const int kPositionChars = 20;
  static void LatitudeText(LPWSTR buffer, const char* latitude, char hemisphere);
  static void LongitudeText(LPWSTR buffer, const char* longitude, char hemisphere);

 private:
  StatusDisplay() = delete;
};
