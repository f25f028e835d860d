#include "testing/ScreenPicture.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "handheld.h"
#include "windows.h"

namespace handheld::testing {
namespace {

HFONT MakeFont(LONG height, LONG weight, bool italic, const WCHAR* face) {
  LOGFONT font{};
  font.lfHeight = height;
  font.lfWeight = weight;
  font.lfItalic = italic ? 1 : 0;
  lstrcpyn(font.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirect(&font);
}

bool Fill(HDC dc, RECT rect, COLORREF color) {
  HBRUSH brush = CreateSolidBrush(color);
  bool ok = brush && FillRect(dc, &rect, brush) && DeleteObject(brush);
  return ok;
}

bool UpdatingReferences() {
  const char* update = std::getenv("HANDHELD_UPDATE_REFERENCE");
  return update != nullptr && *update != 0;
}

// Copies `from` over `to` through a file beside it, so that a test reading
// `to` at the same time sees the old picture or the new one, never half.
std::string Replace(const std::string& from, const std::string& to) {
  const std::string next = to + ".new-" + std::to_string(getpid());
  std::error_code error;
  std::filesystem::copy_file(from, next, std::filesystem::copy_options::overwrite_existing, error);
  if (!error) std::filesystem::rename(next, to, error);
  if (!error) return "";
  std::filesystem::remove(next);
  return "cannot update " + to + ": " + error.message();
}

}  // namespace

bool ScreenPicture::Draw() {
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  bool ok = true;
  RECT all{0, 0, 240, 320};
  ok &= FillRect(screen, &all, GetSysColorBrush(COLOR_WINDOW)) != 0;

  // Colour bars: the channels must not swap on the way to the screen.
  ok &= Fill(screen, RECT{0, 0, 60, 20}, RGB(255, 0, 0));
  ok &= Fill(screen, RECT{60, 0, 120, 20}, RGB(0, 255, 0));
  ok &= Fill(screen, RECT{120, 0, 180, 20}, RGB(0, 0, 255));
  ok &= Fill(screen, RECT{180, 0, 240, 20}, RGB(18, 52, 86));
  RECT band{0, 20, 240, 24};  // a system colour index plus one serves as a brush
  ok &= FillRect(screen, &band, reinterpret_cast<HBRUSH>(COLOR_HIGHLIGHT + 1)) != 0;

  // The viewer's way: a label in the system font, a value in bold Arial 12 pt.
  HFONT bold16 = MakeFont(-16, FW_BOLD, false, u"Arial");
  ok &= bold16 != nullptr;
  ok &= ExtTextOut(screen, 15, 35, 0, nullptr, u"Satellites:", 11, nullptr) != 0;
  HGDIOBJ systemFont = SelectObject(screen, bold16);
  ok &= systemFont != nullptr;
  ok &= SetTextColor(screen, RGB(0, 255, 0)) == RGB(0, 0, 0);
  RECT value{75, 32, 75 + 2 * 20, 32 + 19};
  ok &= DrawText(screen, u"3D A", -1, &value, DT_LEFT | DT_TOP | DT_SINGLELINE) > 0;

  // Regular, bold and italic at several heights, a positive (cell) height,
  // and the next word placed by the measured extent.
  struct Line {
    LONG height;
    LONG weight;
    bool italic;
    int y;
    COLORREF color;
    const WCHAR* text;
  };
  const Line lines[] = {
      {-11, FW_NORMAL, false, 60, RGB(0, 0, 0), u"Arial -11 Quick brown fox"},
      {-16, FW_NORMAL, false, 74, RGB(255, 0, 0), u"Arial -16 gjpqy"},
      {-20, FW_BOLD, false, 94, RGB(0, 0, 128), u"Bold -20 WAVE"},
      {-14, FW_NORMAL, true, 120, RGB(128, 0, 128), u"Italic -14 text"},
      {18, FW_BOLD, false, 138, RGB(0, 0, 0), u"Cell 18"},
  };
  for (const Line& line : lines) {
    HFONT font = MakeFont(line.height, line.weight, line.italic, u"Arial");
    ok &= font != nullptr;
    HGDIOBJ before = SelectObject(screen, font);
    SetTextColor(screen, line.color);
    int length = lstrlen(line.text);
    ok &= ExtTextOut(screen, 5, line.y, 0, nullptr, line.text, length, nullptr) != 0;
    SIZE extent{};
    ok &= GetTextExtentPoint32(screen, line.text, length, &extent) != 0;
    ok &= ExtTextOut(screen, 5 + extent.cx, line.y, 0, nullptr, u"|", 1, nullptr) != 0;
    SelectObject(screen, before);
    ok &= DeleteObject(font) != 0;
  }

  // Transparent text over a fill; opaque text on a coloured background.
  ok &= Fill(screen, RECT{5, 160, 115, 180}, RGB(0, 0, 255));
  SelectObject(screen, bold16);
  SetTextColor(screen, RGB(255, 255, 0));
  SetBkMode(screen, TRANSPARENT);
  ok &= ExtTextOut(screen, 8, 161, 0, nullptr, u"Clear", 5, nullptr) != 0;
  SetBkMode(screen, OPAQUE);
  SetBkColor(screen, RGB(255, 255, 0));
  SetTextColor(screen, RGB(0, 0, 0));
  ok &= ExtTextOut(screen, 125, 161, 0, nullptr, u"Opaque", 6, nullptr) != 0;
  SetBkColor(screen, RGB(255, 255, 255));

  // ExtTextOut clipped to a rectangle narrower and lower than its text.
  RECT clipped{5, 186, 70, 198};
  SelectObject(screen, systemFont);
  SetBkColor(screen, RGB(200, 255, 200));
  ok &= ExtTextOut(screen, 8, 185, ETO_OPAQUE | ETO_CLIPPED, &clipped, u"Clipped text here", 17,
                   nullptr) != 0;
  SetBkColor(screen, RGB(255, 255, 255));

  // Word breaking inside a rectangle that cuts off the last line, and a
  // centred single line with an underlined prefix.
  ok &= Fill(screen, RECT{5, 204, 105, 242}, RGB(230, 230, 230));
  RECT words{5, 204, 105, 242};
  SetBkMode(screen, TRANSPARENT);
  ok &= DrawText(screen, u"Receiver SW Version: GSW2 2.3.2 with word breaks", -1, &words,
                 DT_LEFT | DT_TOP | DT_WORDBREAK) > 0;
  ok &= Fill(screen, RECT{120, 204, 235, 226}, GetSysColor(COLOR_BTNFACE));
  RECT button{120, 204, 235, 226};
  ok &= DrawText(screen, u"&File && more", -1, &button, DT_CENTER | DT_VCENTER | DT_SINGLELINE) > 0;
  SetBkMode(screen, OPAQUE);

  // A memory bitmap copied to the screen, partly beyond its right and
  // bottom edges; then a block copied within the screen.
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 100, 50);
  ok &= memory && bitmap;
  HGDIOBJ firstBitmap = SelectObject(memory, bitmap);
  ok &= firstBitmap != nullptr;
  ok &= Fill(memory, RECT{0, 0, 100, 50}, RGB(255, 200, 0));
  ok &= Fill(memory, RECT{10, 10, 30, 30}, RGB(0, 128, 0));
  SelectObject(memory, bold16);
  SetBkMode(memory, TRANSPARENT);
  ok &= ExtTextOut(memory, 35, 12, 0, nullptr, u"Blit", 4, nullptr) != 0;
  ok &= BitBlt(screen, 170, 290, 100, 50, memory, 0, 0, SRCCOPY) != 0;
  ok &= BitBlt(screen, 5, 250, 120, 30, screen, 0, 0, SRCCOPY) != 0;
  SelectObject(memory, firstBitmap);
  ok &= DeleteDC(memory) != 0;
  ok &= DeleteObject(bitmap) != 0;
  SelectObject(screen, systemFont);
  ok &= DeleteObject(bold16) != 0;
  ok &= ReleaseDC(nullptr, screen) == 1;
  return ok;
}

std::string ScreenPicture::ReferencePath() {
  return std::string(HANDHELD_PLATFORM_TEST_DATA) + "/screen-picture.png";
}

bool ScreenPicture::ReadPng(const std::string& path, int* width, int* height,
                            std::vector<uint32_t>* pixels) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  pixels->resize(static_cast<size_t>(*width) * *height);
  for (size_t i = 0; i < pixels->size(); ++i)
    (*pixels)[i] = (uint32_t{rgb[3 * i]} << 16) | (uint32_t{rgb[3 * i + 1]} << 8) | rgb[3 * i + 2];
  return true;
}

bool ScreenPicture::ReadPng(const std::string& path, Image* image) {
  return ReadPng(path, &image->width, &image->height, &image->pixels);
}

std::string ScreenPicture::Difference(const Image& shown, const Image& reference,
                                      const std::vector<Rows>& rows, int scale) {
  auto filled = [](const Image& image) {
    return image.width > 0 && image.height > 0 &&
           image.pixels.size() == static_cast<size_t>(image.width) * image.height;
  };
  if (!filled(reference)) return "no reference picture";
  if (!filled(shown)) return "no picture";
  if (shown.width != reference.width * scale || shown.height != reference.height * scale) {
    char sizes[120];
    std::snprintf(sizes, sizeof sizes, "the picture is %d x %d, the reference %d x %d at scale %d",
                  shown.width, shown.height, reference.width, reference.height, scale);
    return sizes;
  }
  const std::vector<Rows> all{{0, reference.height}};
  size_t differ = 0;
  char first[80] = "";
  for (const Rows& band : rows.empty() ? all : rows)
    for (int y = std::max(band.top, 0) * scale; y < band.bottom * scale && y < shown.height; ++y)
      for (int x = 0; x < shown.width; ++x) {
        const uint32_t want =
            reference.pixels[static_cast<size_t>(y / scale) * reference.width + x / scale] & 0xFFFFFFu;
        const uint32_t got = shown.pixels[static_cast<size_t>(y) * shown.width + x] & 0xFFFFFFu;
        if (got != want && differ++ == 0)
          std::snprintf(first, sizeof first, "(%d, %d) is %06X, not %06X", x, y, got, want);
      }
  if (differ == 0) return "";
  return first + ("; " + std::to_string(differ) + (differ == 1 ? " pixel differs" : " pixels differ"));
}

std::string ScreenPicture::FileDifference(const std::string& shownPath,
                                          const std::string& referencePath) {
  if (UpdatingReferences()) {
    if (std::string failed = Replace(shownPath, referencePath); !failed.empty()) return failed;
  }
  Image shown, reference;
  if (!ReadPng(shownPath, &shown)) return "cannot read the picture " + shownPath;
  if (!ReadPng(referencePath, &reference)) return "cannot read the reference " + referencePath;
  const std::string difference = Difference(shown, reference);
  if (difference.empty()) return "";
  return difference + " (" + shownPath + " against " + referencePath + ")";
}

std::string ScreenPicture::ScreenDifference(const std::string& referencePath) {
  std::string folder = (std::filesystem::temp_directory_path() / "screen-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) return "cannot make a folder for the screen";
  const std::string shot = folder + "/screen.png";
  if (!handheld::WriteScreenshot(shot)) {
    std::filesystem::remove_all(folder);
    return "cannot write the screen";
  }
  const std::string difference = FileDifference(shot, referencePath);
  if (difference.empty()) std::filesystem::remove_all(folder);  // kept for a look otherwise
  return difference;
}

}  // namespace handheld::testing
