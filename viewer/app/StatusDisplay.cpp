#include "StatusDisplay.h"

#include "NmeaReader.h"
#include "SignalStatistics.h"
#include "ViewerState.h"
#include "WidenAscii.h"

HFONT StatusDisplay::valueFont = nullptr;
HFONT StatusDisplay::labelFont = nullptr;

const StatusDisplay::PageItem StatusDisplay::kPageLayout[kPageItems] = {
    {TEXT("Satellites:"), 15, 35, kSatellites, 75, 32, true},
    {TEXT("Max Signal:"), 135, 85, kMaxSignal, 198, 82, true},
    {TEXT("Avg Signal:"), 135, 60, kAvgSignal, 198, 57, true},
    {TEXT("Min Signal:"), 135, 35, kMinSignal, 198, 32, true},
    {TEXT("Fix Type:"), 15, 60, kFix, 75, 57, true},
    {TEXT("Time:"), 15, 170, kTime, 50, 167, true},
    {TEXT("Lat:"), 15, 115, kLatitude, 45, 112, true},
    {TEXT("Lon:"), 15, 140, kLongitude, 45, 137, true},
    {TEXT("Installed Drivers:"), 15, 195, kInstalledDrivers, 15, 210, false},
    {TEXT("Active Driver:"), 15, 230, kActiveDriver, 95, 230, false},
    {TEXT("Receiver SW Version:"), 15, 250, kSwVersion, 15, 265, false},
};

namespace {

// Characters of the position texts shown as the receiver sent them.
const int kPositionDigits = 11;

void PositionText(LPWSTR buffer, const char* position, LPCWSTR word) {
  char head[kPositionDigits + 1];
  int length = 0;
  while (length < kPositionDigits && position[length] != '\0') {
    head[length] = position[length];
    ++length;
  }
  head[length] = '\0';
  WidenAscii(buffer, StatusDisplay::kPositionChars, head);
  if (word != nullptr) lstrcat(buffer, word);
}

}  // namespace

void StatusDisplay::CreateFonts(HWND window) {
  HDC dc = GetDC(window);
  LOGFONT font = {};
  font.lfHeight = (-12 * GetDeviceCaps(dc, LOGPIXELSY)) / 72;
  font.lfWeight = FW_BOLD;
  lstrcpy(font.lfFaceName, TEXT("Arial"));
  valueFont = CreateFontIndirect(&font);
  labelFont = static_cast<HFONT>(SelectObject(dc, valueFont));
  ReleaseDC(window, dc);
}

void StatusDisplay::DrawLabel(LPCWSTR text, int x, int y, HDC dc, HFONT font, COLORREF color) {
  SelectObject(dc, font);
  SetTextColor(dc, color);
  TEXTMETRIC metrics = {};
  GetTextMetrics(dc, &metrics);
  RECT box = {x, y, x + lstrlen(text) * metrics.tmMaxCharWidth, y + metrics.tmHeight};
  // Receiver texts are shown as they came: an "&" is no prefix.
  DrawText(dc, text, -1, &box, DT_LEFT | DT_TOP | DT_NOPREFIX);
}

void StatusDisplay::DrawNumber(int value, int x, int y, HDC dc, HFONT font, COLORREF color) {
  WCHAR digits[16];
  wsprintf(digits, TEXT("%d"), value);
  DrawLabel(digits, x, y, dc, font, color);
}

void StatusDisplay::FormatUtcTime(LPWSTR buffer, LONG utcTime) {
  wsprintf(buffer, TEXT("%02d:%02d:%02d GMT"), static_cast<int>((utcTime / 10000) % 24),
           static_cast<int>((utcTime / 100) % 100), static_cast<int>(utcTime % 100));
}

bool StatusDisplay::FixText(LPWSTR buffer, char fixMode, char status) {
  LPCWSTR format = nullptr;
  switch (fixMode) {
    case '1': format = TEXT("Aq %c"); break;
    case '2': format = TEXT("2D %c"); break;
    case '3': format = TEXT("3D %c"); break;
    default: return false;
  }
  wsprintf(buffer, format, static_cast<int>(static_cast<BYTE>(status)));
  return true;
}

COLORREF StatusDisplay::FixColor(char status) { return status == 'A' ? kGreen : kRed; }

void StatusDisplay::LatitudeText(LPWSTR buffer, const char* latitude, char hemisphere) {
  PositionText(buffer, latitude,
               hemisphere == 'S' ? TEXT(" South") : hemisphere == 'N' ? TEXT(" North") : nullptr);
}

void StatusDisplay::LongitudeText(LPWSTR buffer, const char* longitude, char hemisphere) {
  PositionText(buffer, longitude,
               hemisphere == 'E' ? TEXT(" East") : hemisphere == 'W' ? TEXT(" West") : nullptr);
}

void StatusDisplay::PaintStatus(HDC dc, const DisplaySnapshot& snapshot) {
  const SignalStatistics statistics = SignalStatistics::From(snapshot.gsv, snapshot.gsa);
  const RmcRecord& rmc = snapshot.rmc;
  for (const PageItem& item : kPageLayout) {
    DrawLabel(item.label, item.labelX, item.labelY, dc, labelFont, kBlack);
    HFONT font = item.inValueFont ? valueFont : labelFont;
    const int x = item.valueX;
    const int y = item.valueY;
    WCHAR text[DisplaySnapshot::kTextChars];
    switch (item.value) {
      case kSatellites: DrawNumber(statistics.satellites, x, y, dc, font, kBlack); break;
      case kMaxSignal: DrawNumber(statistics.maxSignal, x, y, dc, font, kBlack); break;
      case kAvgSignal: DrawNumber(statistics.avgSignal, x, y, dc, font, kBlack); break;
      case kMinSignal: DrawNumber(statistics.minSignal, x, y, dc, font, kBlack); break;
      case kFix:
        if (FixText(text, snapshot.gsa.fixMode, rmc.status))
          DrawLabel(text, x, y, dc, font, FixColor(rmc.status));
        else
          DrawNumber(static_cast<BYTE>(snapshot.gsa.fixMode), x, y, dc, font, FixColor(rmc.status));
        break;
      case kTime: {
        const NmeaReader* reader = ViewerState::currentReader;
        FormatUtcTime(text, reader != nullptr ? reader->Gga().utcTime : 0);
        DrawLabel(text, x, y, dc, font, kBlack);
        break;
      }
      case kLatitude:
        LatitudeText(text, rmc.latitude, rmc.latHemisphere);
        DrawLabel(text, x, y, dc, font, kBlack);
        break;
      case kLongitude:
        LongitudeText(text, rmc.longitude, rmc.lonHemisphere);
        DrawLabel(text, x, y, dc, font, kBlack);
        break;
      case kInstalledDrivers: DrawLabel(snapshot.installedDrivers, x, y, dc, font, kBlack); break;
      case kActiveDriver: DrawLabel(snapshot.activeDriver, x, y, dc, font, kBlack); break;
      case kSwVersion: DrawLabel(snapshot.swVersion, x, y, dc, font, kBlack); break;
    }
  }
}
