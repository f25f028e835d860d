// One registry hive: a tree of keys and values kept in an SQLite database
// that several processes open at once. Every operation is one transaction,
// committed before it returns; writers take the database's write lock up
// front and wait (and retry) while another process holds it. Connections
// are closed around fork(), reopened at once in the parent and on the next
// call in the child, so a forked child may go on using the registry and its
// inherited key handles.
//
// The write-ahead log stays small: once a commit leaves it longer than
// kCheckpointPages, the committing connection checkpoints it and truncates
// it (waiting briefly for readers), so busy writers cannot grow it without
// bound. At exit every connection of the process is closed; the last one
// to close, in whichever process, checkpoints and removes the log, so after
// a clean exit registry.db alone holds the whole hive.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Status.h"
#include "win/types.h"

struct sqlite3;
struct sqlite3_stmt;

namespace handheld::detail {

class RegistryHive {
 public:
  // Key ids of the predefined roots; every other key has a larger id. Ids
  // are never reused, so a deleted key's id finds nothing.
  static constexpr int64_t kClassesRoot = 1;
  static constexpr int64_t kCurrentUser = 2;
  static constexpr int64_t kLocalMachine = 3;
  static constexpr int64_t kUsers = 4;

  // Names longer than these are refused (ERROR_INVALID_PARAMETER).
  static constexpr size_t kMaxKeyNameChars = 255;
  static constexpr size_t kMaxValueNameChars = 16383;

  struct KeyInfo {
    DWORD subKeys = 0;
    DWORD maxSubKeyChars = 0;
    DWORD values = 0;
    DWORD maxValueNameChars = 0;
    DWORD maxValueBytes = 0;
    uint64_t lastWrite = 0;  // 100 ns units since 1601-01-01
  };

  // The hive of the current device folder (handheld::DeviceFolder()),
  // opened (and created) on first use and reopened when the folder changes
  // or the hive file is replaced. A hive file removed while in use is not
  // made afresh until the device folder is named again: the hive in use
  // stays, and Usable says it has gone. Null on failure, with the reason
  // in LastFailure().
  static std::shared_ptr<RegistryHive> Current();
  static std::string LastFailure();

  // Opens (creating the folder and the schema if needed) the hive at `path`.
  // The hive's files are private to the user (0600) whatever the umask.
  static std::shared_ptr<RegistryHive> Open(const std::string& path, std::string* reason = nullptr);

  // True when the hive's file is still there and reads as a sound
  // database; else false with the reason.
  bool Usable(std::string* reason);

  ~RegistryHive();
  RegistryHive(const RegistryHive&) = delete;
  RegistryHive& operator=(const RegistryHive&) = delete;

  const std::string& path() const { return path_; }

  // Paths are backslash-separated; empty components (leading, trailing or
  // doubled backslashes) are ignored, and an empty path names `parent`.
  Status OpenKey(int64_t parent, std::u16string_view path, int64_t* key);
  Status CreateKey(int64_t parent, std::u16string_view path, int64_t* key, bool* created);
  // Deletes the key at `path` below `parent` with its whole subtree. The
  // predefined roots cannot be deleted.
  Status DeleteKey(int64_t parent, std::u16string_view path);
  // ERROR_SUCCESS when the key still exists, else ERROR_KEY_DELETED.
  Status CheckKey(int64_t key);

  Status QueryValue(int64_t key, std::u16string_view name, DWORD* type, std::vector<BYTE>* data);
  Status SetValue(int64_t key, std::u16string_view name, DWORD type, const BYTE* data, size_t bytes);
  Status DeleteValue(int64_t key, std::u16string_view name);

  // Subkeys and values in creation order; ERROR_NO_MORE_ITEMS past the end.
  Status EnumKey(int64_t key, DWORD index, std::u16string* name, uint64_t* lastWrite);
  Status EnumValue(int64_t key, DWORD index, std::u16string* name, DWORD* type,
                 std::vector<BYTE>* data);
  Status QueryInfo(int64_t key, KeyInfo* info);

 private:
  enum Stmt {
    kFindChild,
    kInsertKey,
    kKeyExists,
    kTouchKey,
    kFindValue,
    kSetValue,
    kDeleteValue,
    kDeleteSubtreeValues,
    kDeleteSubtreeKeys,
    kEnumKey,
    kEnumValue,
    kChildNames,
    kValueInfo,
    kParentOf,
    kStmtCount
  };

  static constexpr int kSchemaVersion = 1;
  // 1000 pages of 4 KiB: the log is checkpointed and truncated near 4 MiB.
  static constexpr int kCheckpointPages = 1000;

  explicit RegistryHive(std::string path);
  // Opens the connection (and creates the schema) if there is none; on
  // failure failure_ says why.
  bool Connect();
  // Creates the hive file private, or makes the existing files private.
  bool MakeFilesPrivate();
  std::string DbFailure() const;
  void Disconnect();
  int SchemaVersion();
  static void PrepareFork();
  static void AfterFork();
  static void AfterForkParent();
  static void CloseAllAtExit();
  static int OnWalCommit(void* self, sqlite3* db, const char* name, int pages);
  bool Exec(const char* sql);
  sqlite3_stmt* Prepare(Stmt which);

  // Runs `body` inside a transaction (IMMEDIATE for writes), retrying the
  // whole transaction while the database is busy. `body` returns a registry
  // status; on a database failure it returns kDbFailure after recording
  // the SQLite code in dbCode_. Changes are committed only on success.
  template <class Body>
  Status Transact(bool write, Body body);

  // Steps helpers; they record SQLite failures in dbCode_.
  int Step(sqlite3_stmt* stmt);
  Status Walk(int64_t parent, std::u16string_view path, bool create, int64_t* key, bool* created);
  Status KeyExists(int64_t key);
  Status Touch(int64_t key);

  static constexpr Status kDbFailure = Status(0xFFFFFFFFu);

  std::string path_;
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmts_[kStmtCount] = {};
  int dbCode_ = 0;
  std::string failure_;
  bool connected_ = false;
  bool reconnect_ = false;  // connected when a fork began
};

}  // namespace handheld::detail
