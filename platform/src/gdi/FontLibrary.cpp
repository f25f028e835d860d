#include "FontLibrary.h"

#include <algorithm>
#include <cstdio>

#include "handheld.h"

namespace handheld::detail {

// The text of platform/fonts/handheld-fonts.conf (generated at build time).
extern const char kHandheldFontsConf[];

namespace {
constexpr int kMaxPixelSize = 512;  // bounds every glyph bitmap
}

FontLibrary& FontLibrary::Instance() { return ProcessLifetime<FontLibrary>::Get(); }

FontLibrary::FontLibrary() {
  if (FT_Init_FreeType(&library_) != 0) library_ = nullptr;
  config_ = FcConfigCreate();
  if (config_ && (!FcConfigParseAndLoadFromMemory(
                      config_, reinterpret_cast<const FcChar8*>(kHandheldFontsConf), FcTrue) ||
                  !FcConfigBuildFonts(config_))) {
    std::fputs("handheld: the font configuration does not load\n", stderr);
    FcConfigDestroy(config_);
    config_ = nullptr;
  }
}

std::shared_ptr<FontFace> FontLibrary::Match(const LOGFONTW& font) {
  if (!library_ || !config_) return nullptr;
  FcPattern* pattern = FcPatternCreate();
  std::u16string faceName(font.lfFaceName,
                          std::find(font.lfFaceName, font.lfFaceName + LF_FACESIZE, u'\0'));
  if (!faceName.empty())
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(ToUtf8(faceName).c_str()));
  const int weight = font.lfWeight <= 0 ? FW_NORMAL : std::min<int>(font.lfWeight, 1000);
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(pattern, FC_SLANT, font.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(config_, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcPattern* match = FcFontMatch(config_, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return nullptr;
  FcChar8* file = nullptr;
  int index = 0;
  std::string path;
  if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) path = reinterpret_cast<char*>(file);
  FcPatternGetInteger(match, FC_INDEX, 0, &index);
  FcPatternDestroy(match);
  if (path.empty()) return nullptr;

  FT_Face face = nullptr;
  if (FT_New_Face(library_, path.c_str(), index, &face) != 0) return nullptr;
  int pixelSize = font.lfHeight < 0   ? -font.lfHeight
                  : font.lfHeight > 0 ? FontFace::PixelSizeForCell(face, font.lfHeight)
                                      : kDefaultPixelSize;
  pixelSize = std::clamp(pixelSize, 1, kMaxPixelSize);
  auto key = std::make_tuple(path, index, pixelSize);
  auto it = faces_.find(key);
  if (it != faces_.end()) {
    FT_Done_Face(face);
    return it->second;
  }
  auto sized = std::make_shared<FontFace>(face, pixelSize);
  faces_.emplace(key, sized);
  return sized;
}

}  // namespace handheld::detail
