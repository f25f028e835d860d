// Device registers at physical addresses. The page of each is trapped in
// every mapping (PhysicalMemory::Trap); an access faults (SIGSEGV), the
// handler opens the page and single-steps the faulting instruction (the
// trap flag), and the SIGTRAP that follows closes the page again. Before a
// read the register's next queued value is stored in physical memory; after
// a write the value written is recorded. The library's code thus runs
// unchanged. Works on x86-64 Linux only; Available says why not elsewhere.
// The first 4096 writes of a register are kept.
// Accesses of one thread are seen one at a time; another thread touching
// the page during that one instruction is not seen.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "win/types.h"

namespace handheld::detail {

class RegisterModel {
 public:
  static RegisterModel& Instance();
  RegisterModel() = default;
  static bool Available(std::string* reason);

  bool Attach(DWORD physical, DWORD width);
  void Detach(DWORD physical);
  void Queue(DWORD physical, const std::vector<DWORD>& values);
  size_t Reads(DWORD physical) const;
  std::vector<DWORD> Writes(DWORD physical) const;

  // From the trap handlers: the access at `physical` is about to happen
  // (a read loads the next value) or has happened (a write is recorded).
  // False when no register covers the address.
  bool BeforeRead(DWORD physical);
  bool AfterWrite(DWORD physical);

 private:
  // The handlers neither allocate nor free: queued values are consumed by
  // index, and writes are kept up to the room reserved on attach.
  static constexpr size_t kKeptWrites = 4096;
  struct Register {
    DWORD width = 0;
    std::vector<DWORD> queue;
    size_t next = 0;  // the next value of the queue to read
    size_t reads = 0;
    std::vector<DWORD> writes;
  };
  Register* FindLocked(DWORD physical, DWORD* start);
  static bool InstallHandlers();

  mutable std::mutex mutex_;
  std::map<DWORD, Register> registers_;
};

}  // namespace handheld::detail
