#include "ExitHooks.h"

#include <atomic>

namespace handheld::detail {
namespace {

// Constant-initialised, so a hook may be added from any static constructor.
std::atomic<ExitHooks::Hook> hooks[ExitHooks::kMaxHooks];
std::atomic<int> added{0};

}  // namespace

bool ExitHooks::Add(Hook hook) {
  const int slot = added.fetch_add(1);
  if (slot >= kMaxHooks) return false;
  hooks[slot].store(hook);
  return true;
}

void ExitHooks::RunAll() {
  const int count = added.load() < kMaxHooks ? added.load() : kMaxHooks;
  for (int i = 0; i < count; ++i)
    if (Hook hook = hooks[i].load()) hook();
}

}  // namespace handheld::detail
