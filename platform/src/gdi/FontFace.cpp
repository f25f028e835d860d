#include "FontFace.h"

#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>

namespace handheld::detail {
namespace {

// The vertical extent that sets a font's cell: the OS/2 table's Windows
// ascent and descent, as the handheld's font engine uses them.
void CellUnits(FT_Face face, long* ascent, long* descent) {
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
    *ascent = os2->usWinAscent;
    *descent = os2->usWinDescent;
  } else {
    *ascent = face->ascender;
    *descent = -face->descender;
  }
}

int Scaled(long units, int pixelSize, int unitsPerEm) {
  return static_cast<int>(std::lround(static_cast<double>(units) * pixelSize / unitsPerEm));
}

}  // namespace

int FontFace::PixelSizeForCell(FT_Face face, int cellHeight) {
  long ascent = 0, descent = 0;
  CellUnits(face, &ascent, &descent);
  if (ascent + descent <= 0) return cellHeight;
  return std::max(1, static_cast<int>(std::lround(static_cast<double>(cellHeight) *
                                                  face->units_per_EM / (ascent + descent))));
}

FontFace::FontFace(FT_Face face, int pixelSize) : face_(face) {
  FT_Set_Pixel_Sizes(face_, 0, static_cast<FT_UInt>(pixelSize));
  const int em = std::max<int>(face_->units_per_EM, 1);
  long ascent = 0, descent = 0;
  CellUnits(face_, &ascent, &descent);
  metrics_.height = Scaled(ascent + descent, pixelSize, em);
  metrics_.descent = Scaled(descent, pixelSize, em);
  metrics_.ascent = metrics_.height - metrics_.descent;
  metrics_.internalLeading = std::max(0, metrics_.height - pixelSize);
  // The line gap beyond what the cell already holds.
  const long lineUnits = face_->ascender - face_->descender;
  metrics_.externalLeading = std::max(
      0, Scaled(face_->height - lineUnits - (ascent + descent - lineUnits), pixelSize, em));
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
  metrics_.aveCharWidth = os2 ? Scaled(os2->xAvgCharWidth, pixelSize, em) : Advance(U'x');
  metrics_.maxCharWidth = Scaled(face_->max_advance_width, pixelSize, em);
}

FontFace::~FontFace() { FT_Done_Face(face_); }

FontFace::Glyph& FontFace::LoadAgain(char32_t c) {
  auto it = glyphs_.find(c);
  Glyph& glyph = it != glyphs_.end() ? it->second : Render(c);
  if (c < kDirect) direct_[c] = &glyph;
  return glyph;
}

FontFace::Glyph& FontFace::Render(char32_t c) {
  Glyph glyph;
  if (FT_Load_Char(face_, c, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) == 0) {
    const FT_GlyphSlot slot = face_->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    glyph.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.buffer) {
      glyph.left = slot->bitmap_left;
      glyph.top = slot->bitmap_top;
      glyph.width = static_cast<int>(bitmap.width);
      glyph.rows = static_cast<int>(bitmap.rows);
      glyph.pitch = (glyph.width + 3) / 4 * 4;
      glyph.coverage.assign(static_cast<size_t>(glyph.pitch) * glyph.rows, 0);
      for (int row = 0; row < glyph.rows; ++row) {
        const uint8_t* in = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
        std::copy(in, in + glyph.width,
                  glyph.coverage.begin() + static_cast<ptrdiff_t>(row) * glyph.pitch);
      }
    }
  }
  return glyphs_.emplace(c, std::move(glyph)).first->second;
}

const std::vector<uint32_t>& FontFace::Tinted(Glyph& glyph, uint32_t pixel, uint32_t under) {
  for (const Glyph::Tint& tint : glyph.tints)
    if (!tint.over.empty() && tint.pixel == pixel && tint.under == under) return tint.over;
  Glyph::Tint& tint = glyph.tints[glyph.nextTint];
  glyph.nextTint = (glyph.nextTint + 1) % Glyph::kTints;
  tint.pixel = pixel;
  tint.under = under;
  tint.over.resize(glyph.coverage.size());
  for (size_t i = 0; i < glyph.coverage.size(); ++i)
    tint.over[i] = Surface::Mix(pixel, under, glyph.coverage[i]);
  return tint.over;
}

int FontFace::Draw(Surface& surface, char32_t c, int x, int baseline, uint32_t pixel,
                   const RECT& clip, Plain* plain) {
  Glyph& glyph = Load(c);
  if (glyph.coverage.empty()) return glyph.advance;
  const int left = x + glyph.left, top = baseline - glyph.top;
  const RECT box = surface.Clip(RECT{left, top, left + glyph.width, top + glyph.rows}, clip);
  if (box.right <= box.left || box.bottom <= box.top) return glyph.advance;
  if (plain && box.left >= plain->rect.left && box.top >= plain->rect.top &&
      box.right <= plain->rect.right && box.bottom <= plain->rect.bottom) {
    // The padding of the rows goes too, as far as the block and the clip
    // allow: over the block's colour it is that colour.
    surface.Put(left, top, glyph.pitch, glyph.rows, Tinted(glyph, pixel, plain->pixel).data(),
                glyph.pitch,
                RECT{box.left, box.top, std::min(clip.right, plain->rect.right), box.bottom});
  } else {
    // Text mostly lies on one colour: the one under the glyph's first
    // pixel. The padding of the rows is blended too, as far as the clip
    // allows.
    const uint32_t under = surface.Pixel(box.left, box.top);
    surface.BlendOver(left, top, glyph.pitch, glyph.rows, glyph.coverage.data(),
                      Tinted(glyph, pixel, under).data(), glyph.pitch, pixel, under,
                      RECT{box.left, box.top, clip.right, box.bottom});
  }
  if (plain) plain->rect.left = std::max(plain->rect.left, box.right);
  return glyph.advance;
}

}  // namespace handheld::detail
