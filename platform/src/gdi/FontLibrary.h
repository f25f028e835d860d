// The process's fonts: FreeType, and a fontconfig configuration of its own
// (platform/fonts/handheld-fonts.conf, built into the library) that sees
// only the handheld's font files, so a face name always resolves the same
// way whatever else the host machine has installed. Faces are shared
// between the fonts that ask for the same file at the same size.
// Callers hold Surface::DrawingLock().
#pragma once

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "FontFace.h"
#include "ProcessLifetime.h"
#include "win/gdi.h"

namespace handheld::detail {

class FontLibrary {
 public:
  static FontLibrary& Instance();

  // The character height of the system font and of a font of height 0.
  static constexpr int kDefaultPixelSize = 11;

  // The face that fontconfig picks for the font's face name, weight and
  // slant, at the size its height asks for (< 0 character height, > 0 cell
  // height). Null when no font file can be loaded.
  std::shared_ptr<FontFace> Match(const LOGFONTW& font);

 private:
  friend class ProcessLifetime<FontLibrary>;
  FontLibrary();

  FT_Library library_ = nullptr;
  FcConfig* config_ = nullptr;
  // (file, face index, pixel size) -> face; kept for the process's life.
  std::map<std::tuple<std::string, int, int>, std::shared_ptr<FontFace>> faces_;
};

}  // namespace handheld::detail
