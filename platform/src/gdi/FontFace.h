// One font file at one pixel size, as FreeType renders it: the metrics a
// TEXTMETRIC reports and anti-aliased glyphs (grey levels), drawn with
// hinting so every glyph and advance is whole pixels. Nothing is kerned.
// Callers hold Surface::DrawingLock().
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "Surface.h"
#include "win/gdi.h"

namespace handheld::detail {

class FontFace {
 public:
  struct Metrics {
    int height = 0;  // ascent + descent: the cell
    int ascent = 0;
    int descent = 0;
    int internalLeading = 0;  // cell height minus character height
    int externalLeading = 0;
    int aveCharWidth = 0;
    int maxCharWidth = 0;
  };

  // Takes ownership of `face`. `pixelSize` is the character (em) height.
  FontFace(FT_Face face, int pixelSize);
  ~FontFace();
  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;

  // The character height that gives a cell of `cellHeight` pixels.
  static int PixelSizeForCell(FT_Face face, int cellHeight);

  const Metrics& metrics() const { return metrics_; }
  int Advance(char32_t c) { return Load(c).advance; }
  // A block of the surface known to hold one colour alone, as a line's
  // cell does once its background is filled: a glyph wholly inside it is
  // copied in its blend over that colour, no pixel compared.
  struct Plain {
    RECT rect;
    uint32_t pixel;
  };
  // Draws `c` with its origin at (x, baseline); returns the advance.
  // `plain`, if given, loses its columns up to the glyph's right edge: glyphs
  // are drawn from left to right.
  int Draw(Surface& surface, char32_t c, int x, int baseline, uint32_t pixel, const RECT& clip,
           Plain* plain = nullptr);

 private:
  struct Glyph {
    int left = 0;  // from the origin to the bitmap's left edge
    int top = 0;   // from the baseline up to the bitmap's top edge
    int width = 0;
    int rows = 0;
    int advance = 0;
    // Rows padded with coverage 0 to whole steps of Surface's row blends:
    // a pixel at coverage 0 is left as it is, so the padding draws nothing.
    int pitch = 0;
    std::vector<uint8_t> coverage;  // pitch bytes per row
    // The glyph in a colour over a background colour, as Surface::BlendOver
    // takes it: the last few pairs drawn, the oldest replaced first.
    struct Tint {
      uint32_t pixel = 0;
      uint32_t under = 0;
      std::vector<uint32_t> over;
    };
    static constexpr size_t kTints = 4;
    Tint tints[kTints];
    size_t nextTint = 0;
  };
  Glyph& Load(char32_t c) {
    return c < kDirect && direct_[c] ? *direct_[c] : LoadAgain(c);
  }
  Glyph& LoadAgain(char32_t c);  // past the Latin-1 glyphs already found
  Glyph& Render(char32_t c);
  static const std::vector<uint32_t>& Tinted(Glyph& glyph, uint32_t pixel, uint32_t under);

  FT_Face face_;
  Metrics metrics_;
  std::unordered_map<char32_t, Glyph> glyphs_;  // nodes stay where they are
  // The Latin-1 glyphs once rendered, found without hashing.
  static constexpr char32_t kDirect = 256;
  Glyph* direct_[kDirect] = {};
};

}  // namespace handheld::detail
