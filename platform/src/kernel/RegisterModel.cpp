#include "RegisterModel.h"

#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>

#include <atomic>

#include "PhysicalMemory.h"
#include "ProcessLifetime.h"

namespace handheld::detail {

#if defined(__x86_64__) && defined(__linux__)
#define HANDHELD_REGISTER_TRAPS 1
#else
#define HANDHELD_REGISTER_TRAPS 0
#endif

namespace {

DWORD PageOf(DWORD physical) { return physical & ~static_cast<DWORD>(PhysicalMemory::PageSize() - 1); }

#if HANDHELD_REGISTER_TRAPS

constexpr greg_t kTrapFlag = 0x100;
constexpr greg_t kWriteFault = 0x2;  // page fault error code: the access was a write

struct sigaction previousSegv;
struct sigaction previousTrap;
// One trapped access at a time in the process: taken on the fault, given
// back after the single step.
std::atomic_flag stepping = ATOMIC_FLAG_INIT;

struct Step {
  bool active = false;
  void* page = nullptr;
  DWORD physical = 0;
  bool write = false;
};
thread_local Step step;

void PassOn(const struct sigaction& previous, int signal, siginfo_t* info, void* context) {
  if (previous.sa_flags & SA_SIGINFO) {
    previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_IGN && previous.sa_handler != SIG_DFL) {
    previous.sa_handler(signal);
  } else {
    // Not ours: the default action happens when the instruction runs again.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
  }
}

void OnFault(int signal, siginfo_t* info, void* context) {
  auto* uc = static_cast<ucontext_t*>(context);
  const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
  DWORD physical = 0;
  int protection = PROT_NONE;
  if (step.active || !PhysicalMemory::Instance().FindTrapped(address, &physical, &protection)) {
    PassOn(previousSegv, signal, info, context);
    return;
  }
  while (stepping.test_and_set(std::memory_order_acquire)) {
  }
  step.active = true;
  step.page = reinterpret_cast<void*>(address & ~static_cast<uintptr_t>(PhysicalMemory::PageSize() - 1));
  step.physical = physical;
  step.write = (uc->uc_mcontext.gregs[REG_ERR] & kWriteFault) != 0;
  if (!step.write) RegisterModel::Instance().BeforeRead(physical);
  mprotect(step.page, PhysicalMemory::PageSize(), protection);
  uc->uc_mcontext.gregs[REG_EFL] |= kTrapFlag;
}

void OnTrap(int signal, siginfo_t* info, void* context) {
  if (!step.active) {
    PassOn(previousTrap, signal, info, context);
    return;
  }
  auto* uc = static_cast<ucontext_t*>(context);
  uc->uc_mcontext.gregs[REG_EFL] &= ~kTrapFlag;
  mprotect(step.page, PhysicalMemory::PageSize(), PROT_NONE);
  if (step.write) RegisterModel::Instance().AfterWrite(step.physical);
  step.active = false;
  stepping.clear(std::memory_order_release);
}

#endif

}  // namespace

RegisterModel& RegisterModel::Instance() {
  return ProcessLifetime<RegisterModel>::Get();  // used by the signal handlers until exit
}

bool RegisterModel::Available(std::string* reason) {
#if !HANDHELD_REGISTER_TRAPS
  if (reason) *reason = "register traps single-step the faulting instruction, which needs x86-64 Linux";
  return false;
#else
  if (reason) reason->clear();
  return true;
#endif
}

bool RegisterModel::InstallHandlers() {
#if HANDHELD_REGISTER_TRAPS
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    action.sa_sigaction = OnFault;
    if (sigaction(SIGSEGV, &action, &previousSegv) != 0) return false;
    action.sa_sigaction = OnTrap;
    return sigaction(SIGTRAP, &action, &previousTrap) == 0;
  }();
  return installed;
#else
  return false;
#endif
}

bool RegisterModel::Attach(DWORD physical, DWORD width) {
  if ((width != 1 && width != 2 && width != 4) || physical % width != 0 ||
      !Available(nullptr) || !InstallHandlers())
    return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Register& reg = registers_[physical];
    reg = Register{};
    reg.width = width;
    reg.writes.reserve(kKeptWrites);
  }
  PhysicalMemory::Instance().Trap(PageOf(physical));
  return true;
}

void RegisterModel::Detach(DWORD physical) {
  bool pageInUse = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    registers_.erase(physical);
    for (const auto& [start, reg] : registers_)
      if (PageOf(start) == PageOf(physical)) pageInUse = true;
  }
  if (!pageInUse) PhysicalMemory::Instance().Untrap(PageOf(physical));
}

void RegisterModel::Queue(DWORD physical, const std::vector<DWORD>& values) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = registers_.find(physical);
  if (it == registers_.end()) return;
  Register& reg = it->second;
  reg.queue.erase(reg.queue.begin(), reg.queue.begin() + static_cast<ptrdiff_t>(reg.next));
  reg.next = 0;
  reg.queue.insert(reg.queue.end(), values.begin(), values.end());
}

size_t RegisterModel::Reads(DWORD physical) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = registers_.find(physical);
  return it == registers_.end() ? 0 : it->second.reads;
}

std::vector<DWORD> RegisterModel::Writes(DWORD physical) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = registers_.find(physical);
  return it == registers_.end() ? std::vector<DWORD>{} : it->second.writes;
}

RegisterModel::Register* RegisterModel::FindLocked(DWORD physical, DWORD* start) {
  auto it = registers_.upper_bound(physical);
  if (it == registers_.begin()) return nullptr;
  --it;
  if (physical - it->first >= it->second.width) return nullptr;
  *start = it->first;
  return &it->second;
}

bool RegisterModel::BeforeRead(DWORD physical) {
  std::lock_guard<std::mutex> lock(mutex_);
  DWORD start = 0;
  Register* reg = FindLocked(physical, &start);
  if (!reg) return false;
  ++reg->reads;
  if (reg->next == reg->queue.size()) return true;
  DWORD value = reg->queue[reg->next++];
  PhysicalMemory::Instance().WritePhysical(start, &value, reg->width);  // little-endian
  return true;
}

bool RegisterModel::AfterWrite(DWORD physical) {
  std::lock_guard<std::mutex> lock(mutex_);
  DWORD start = 0;
  Register* reg = FindLocked(physical, &start);
  if (!reg) return false;
  DWORD value = 0;
  PhysicalMemory::Instance().ReadPhysical(start, &value, reg->width);
  if (reg->writes.size() < reg->writes.capacity()) reg->writes.push_back(value);
  return true;
}

}  // namespace handheld::detail
