#include "Trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "ProcessLifetime.h"

namespace handheld::detail {
namespace {

struct ChannelName {
  TraceChannel channel;
  const char* name;
};
constexpr ChannelName kChannels[] = {
    {TraceChannel::kLoader, "loader"},   {TraceChannel::kSerial, "serial"},
    {TraceChannel::kRegistry, "registry"}, {TraceChannel::kWindow, "window"},
    {TraceChannel::kDevice, "device"},   {TraceChannel::kMessage, "message"},
};

const char* NameOf(TraceChannel channel) {
  for (const ChannelName& c : kChannels)
    if (c.channel == channel) return c.name;
  return "?";
}

// The chosen channels as bits, read from the environment once.
struct Chosen {
  unsigned bits = 0;
  Chosen() {
    const char* list = std::getenv("HANDHELD_TRACE");
    if (!list) return;
    std::string text(list);
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find(',', start);
      if (end == std::string::npos) end = text.size();
      std::string word = text.substr(start, end - start);
      for (const ChannelName& c : kChannels)
        if (word == c.name || word == "all") bits |= 1u << static_cast<unsigned>(c.channel);
      start = end + 1;
    }
  }
};

}  // namespace

bool Trace::On(TraceChannel channel) {
  return (ProcessLifetime<Chosen>::Get().bits >> static_cast<unsigned>(channel)) & 1u;
}

void Trace::Write(TraceChannel channel, const char* format, ...) {
  if (!On(channel)) return;
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  // One write per line, so lines of several threads do not interleave.
  std::fprintf(stderr, "[handheld:%s] %s\n", NameOf(channel), text);
}

}  // namespace handheld::detail
