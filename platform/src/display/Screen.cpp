#include "Screen.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ExitHooks.h"
#include "HeadlessPresenter.h"
#include "PngFile.h"
#include "X11Presenter.h"

namespace handheld::detail {
namespace {

constexpr int kDefaultScale = 2;
constexpr int kMaxScale = 8;

int ScaleFromEnvironment() {
  const char* text = std::getenv("HANDHELD_SCALE");
  if (!text || !*text) return kDefaultScale;
  char* end = nullptr;
  long scale = std::strtol(text, &end, 10);
  if (*end != '\0' || scale < 1 || scale > kMaxScale) {
    std::fprintf(stderr, "handheld: HANDHELD_SCALE must be 1 to %d; using %d\n", kMaxScale,
                 kDefaultScale);
    return kDefaultScale;
  }
  return static_cast<int>(scale);
}

void WriteScreenshotAtExit() {
  const char* path = std::getenv("HANDHELD_SCREENSHOT");
  if (path && *path && !Screen::Instance().WritePng(path))
    std::fprintf(stderr, "handheld: cannot write the screenshot %s\n", path);
}

}  // namespace

Screen& Screen::Instance() { return ProcessLifetime<Screen>::Get(); }  // shown until exit

Screen::Screen() {
  surface_.Fill(RECT{0, 0, kWidth, kHeight}, RECT{0, 0, kWidth, kHeight}, 0xFFFFFFu);
  const char* headless = std::getenv("HANDHELD_HEADLESS");
  const char* display = std::getenv("DISPLAY");
  if (!(headless && std::strcmp(headless, "1") == 0) && display && *display) {
    presenter_ = X11Presenter::Create(this, ScaleFromEnvironment(), program_invocation_short_name);
    if (!presenter_)
      std::fprintf(stderr, "handheld: cannot show the screen on display %s; headless\n", display);
  }
  if (!presenter_) presenter_ = std::make_unique<HeadlessPresenter>();
  const char* screenshot = std::getenv("HANDHELD_SCREENSHOT");
  if (screenshot && *screenshot) {
    std::atexit(WriteScreenshotAtExit);
    ExitHooks::Add(WriteScreenshotAtExit);
  }
}

void Screen::Changed() {
  ++changes_;
  presenter_->ScreenChanged();
}

uint64_t Screen::CopyPixels(std::vector<uint32_t>* pixels) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  *pixels = surface_.pixels();
  return changes_.load();
}

bool Screen::WritePng(const std::string& path) {
  std::vector<uint32_t> pixels;
  CopyPixels(&pixels);
  return PngFile::Write(path, kWidth, kHeight, pixels);
}

}  // namespace handheld::detail
