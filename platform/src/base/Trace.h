// Diagnostics of the stand-in on standard error, by channel, chosen with
// the environment variable HANDHELD_TRACE: a comma-separated list of
// channel names ("loader,serial,registry,window,device,message"), or "all".
// Nothing is written for channels not chosen, and the deliverables never
// write through here.
//
//   if (Trace::On(TraceChannel::kLoader)) Trace::Write(TraceChannel::kLoader, "dlopen %s: %s", path, dlerror());
#pragma once

namespace handheld::detail {

enum class TraceChannel { kLoader, kSerial, kRegistry, kWindow, kDevice, kMessage };

class Trace {
 public:
  static bool On(TraceChannel channel);
  // One line "[handheld:<channel>] <text>" when the channel is on.
  static void Write(TraceChannel channel, const char* format, ...)
      __attribute__((format(printf, 2, 3)));
};

}  // namespace handheld::detail
