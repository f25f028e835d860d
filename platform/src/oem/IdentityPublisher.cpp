#include "IdentityPublisher.h"

#include "RegistryHive.h"
#include "win/registry.h"

namespace handheld::detail {

namespace {

constexpr char16_t kIdentityKey[] = u"SYSTEM\\CurrentControlSet\\AdvancedCPL\\DM";
constexpr char16_t kIdentityValue[] = u"IDs";

void Publish(DWORD sleeveId) {
  auto hive = RegistryHive::Current();
  if (!hive) return;
  int64_t key = 0;
  bool created = false;
  if (!hive->CreateKey(RegistryHive::kLocalMachine, kIdentityKey, &key, &created).ok()) return;
  static_cast<void>(hive->SetValue(key, kIdentityValue, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&sleeveId), sizeof(sleeveId)));
}

void Withdraw() {
  auto hive = RegistryHive::Current();
  if (!hive) return;
  int64_t key = 0;
  if (!hive->OpenKey(RegistryHive::kLocalMachine, kIdentityKey, &key).ok()) return;
  static_cast<void>(hive->DeleteValue(key, kIdentityValue));
}

}  // namespace

IdentityPublisher& IdentityPublisher::Instance() {
  // Unlike the process-lifetime state, destroyed at exit: that stops and
  // joins the worker before the process ends.
  static IdentityPublisher publisher;
  return publisher;
}

IdentityPublisher::~IdentityPublisher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void IdentityPublisher::SetDelay(DWORD ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  delay_ = ms;
}

void IdentityPublisher::Inserted(DWORD sleeveId) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (delay_ == INFINITE) {
      pending_ = false;
      return;
    }
    pending_ = true;
    sleeveId_ = sleeveId;
    due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay_);
    if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
  }
  wake_.notify_all();
}

void IdentityPublisher::Removed() {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_ = false;
  Withdraw();
}

void IdentityPublisher::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (!pending_) {
      wake_.wait(lock);
    } else if (wake_.wait_until(lock, due_) == std::cv_status::timeout && pending_ &&
               std::chrono::steady_clock::now() >= due_) {
      pending_ = false;
      Publish(sleeveId_);
    }
  }
}

}  // namespace handheld::detail
