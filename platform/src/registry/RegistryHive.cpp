#include "RegistryHive.h"

#include <sqlite3.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>
#include <utility>

#include "DeviceFolder.h"
#include "Trace.h"
#include "NameFold.h"
#include "ProcessLifetime.h"

namespace handheld::detail {
namespace {

using Clock = std::chrono::steady_clock;

// How long an operation keeps retrying while other processes hold the
// database locked, in total and per wait inside SQLite.
constexpr auto kBusyBudget = std::chrono::seconds(60);
constexpr int kBusyTimeoutMs = 2000;

const char* const kStatements[] = {
    // kFindChild
    "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2",
    // kInsertKey
    "INSERT INTO keys(parent, name, fold, written) VALUES (?1, ?2, ?3, ?4)",
    // kKeyExists
    "SELECT written FROM keys WHERE id = ?1",
    // kTouchKey
    "UPDATE keys SET written = ?2 WHERE id = ?1",
    // kFindValue
    "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2",
    // kSetValue: an existing value keeps its row, its name and so its place
    "INSERT INTO vals(key, name, fold, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    // kDeleteValue
    "DELETE FROM vals WHERE key = ?1 AND fold = ?2",
    // kDeleteSubtreeValues
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
    "SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) "
    "DELETE FROM vals WHERE key IN sub",
    // kDeleteSubtreeKeys
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
    "SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) "
    "DELETE FROM keys WHERE id IN sub",
    // kEnumKey
    "SELECT name, written FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    // kEnumValue
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    // kChildNames
    "SELECT name FROM keys WHERE parent = ?1",
    // kValueInfo
    "SELECT name, length(data) FROM vals WHERE key = ?1",
    // kParentOf
    "SELECT parent FROM keys WHERE id = ?1",
};

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  fold TEXT NOT NULL,"
    "  written INTEGER NOT NULL DEFAULT 0);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys(parent, fold);"
    "CREATE INDEX IF NOT EXISTS keys_in_order ON keys(parent, id);"
    "CREATE TABLE IF NOT EXISTS vals("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  fold TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS vals_by_name ON vals(key, fold);"
    "CREATE INDEX IF NOT EXISTS vals_in_order ON vals(key, id);"
    "INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES"
    "  (1, 0, 'HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT'),"
    "  (2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),"
    "  (3, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),"
    "  (4, 0, 'HKEY_USERS', 'HKEY_USERS');";

bool IsBusy(int code) {
  int primary = code & 0xFF;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Current time as a FILETIME count: 100 ns units since 1601-01-01.
uint64_t FileTimeNow() {
  using namespace std::chrono;
  constexpr uint64_t kEpochDifference = 116444736000000000ull;  // 1601 -> 1970
  auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return kEpochDifference + static_cast<uint64_t>(since1970 / 100);
}

// True unless the name holds a surrogate without its partner, U+FFFE or
// U+FFFF. SQLite keeps text as UTF-8 and reads those back as other
// characters (or takes them for a different name's match), so such a name
// would not come back as it was given.
bool WellFormed(std::u16string_view name) {
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c >= 0xFFFE) return false;
    if (c < 0xD800 || c > 0xDFFF) continue;
    if (c > 0xDBFF || i + 1 == name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF)
      return false;
    ++i;
  }
  return true;
}

// Splits a backslash-separated path into its non-empty components.
std::vector<std::u16string_view> SplitPath(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Resets a statement when it goes out of use, so that no statement stays
// active across COMMIT or into the next call.
class StmtUse {
 public:
  explicit StmtUse(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~StmtUse() {
    if (stmt_) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  StmtUse(const StmtUse&) = delete;
  StmtUse& operator=(const StmtUse&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt* stmt_;
};

void BindText(sqlite3_stmt* stmt, int index, std::u16string_view text) {
  // A null pointer would bind SQL NULL; the empty name is a name too.
  sqlite3_bind_text16(stmt, index, text.empty() ? u"" : text.data(), static_cast<int>(text.size() * sizeof(char16_t)),
                      SQLITE_TRANSIENT);
}

std::u16string ColumnText(sqlite3_stmt* stmt, int column) {
  auto* text = static_cast<const char16_t*>(sqlite3_column_text16(stmt, column));
  int bytes = sqlite3_column_bytes16(stmt, column);
  if (!text || bytes <= 0) return {};
  return std::u16string(text, static_cast<size_t>(bytes) / sizeof(char16_t));
}

std::vector<BYTE> ColumnBlob(sqlite3_stmt* stmt, int column) {
  auto* data = static_cast<const BYTE*>(sqlite3_column_blob(stmt, column));
  int bytes = sqlite3_column_bytes(stmt, column);
  if (!data || bytes <= 0) return {};
  return std::vector<BYTE>(data, data + bytes);
}

struct CurrentHive {
  std::string path;
  unsigned generation = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  std::shared_ptr<RegistryHive> hive;
};

// Lock order: currentMutex, liveMutex, then the hives' own mutexes. Never
// destroyed, so threads still running at exit find it intact.
struct Hives {
  std::mutex currentMutex;
  CurrentHive current;
  std::mutex liveMutex;
  std::set<RegistryHive*> live;
  std::once_flag forkHandlersOnce;
  std::string lastFailure;  // under currentMutex
};
Hives& TheHives() { return ProcessLifetime<Hives>::Get(); }

}  // namespace

std::shared_ptr<RegistryHive> RegistryHive::Current() {
  std::string path = DeviceFolder() + "/registry.db";
  const unsigned generation = DeviceFolderGeneration();
  Hives& hives = TheHives();
  CurrentHive& current = hives.current;
  std::lock_guard<std::mutex> lock(hives.currentMutex);
  struct stat st {};
  bool exists = stat(path.c_str(), &st) == 0;
  if (current.hive && current.path == path) {
    if (exists && st.st_dev == current.dev && st.st_ino == current.ino) return current.hive;
    // Removed under us (with its folder, perhaps): an empty hive in its
    // place would pass for a handheld with nothing on it.
    if (!exists && errno == ENOENT && current.generation == generation) return current.hive;
  }
  std::shared_ptr<RegistryHive> hive = Open(path, &hives.lastFailure);
  if (!hive) return nullptr;
  if (stat(path.c_str(), &st) != 0) {
    hives.lastFailure = path + " has gone";
    return nullptr;
  }
  current.path = path;
  current.generation = generation;
  current.dev = st.st_dev;
  current.ino = st.st_ino;
  current.hive = hive;
  return hive;
}

std::string RegistryHive::LastFailure() {
  std::lock_guard<std::mutex> lock(TheHives().currentMutex);
  return TheHives().lastFailure;
}

std::shared_ptr<RegistryHive> RegistryHive::Open(const std::string& path, std::string* reason) {
  std::call_once(TheHives().forkHandlersOnce, [] {
    pthread_atfork(&RegistryHive::PrepareFork, &RegistryHive::AfterForkParent,
                   &RegistryHive::AfterFork);
    std::atexit(&RegistryHive::CloseAllAtExit);
  });
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::string failure;
  if (!parent.empty() && !MakePrivateFolder(parent.string(), false, &failure)) {
    if (reason) *reason = failure;
    return nullptr;
  }
  std::shared_ptr<RegistryHive> hive(new RegistryHive(path));
  if (!hive->Connect()) {
    Trace::Write(TraceChannel::kRegistry, "hive %s cannot be opened: %s", path.c_str(),
                 hive->failure_.c_str());
    if (reason) *reason = hive->failure_;
    return nullptr;
  }
  return hive;
}

bool RegistryHive::Usable(std::string* reason) {
  struct stat st {};
  if (stat(path_.c_str(), &st) != 0) {
    *reason = path_ + " was removed while in use";
    return false;
  }
  std::string verdict;
  const Status status = Transact(false, [&]() -> Status {
    sqlite3_stmt* stmt = nullptr;
    dbCode_ = sqlite3_prepare_v2(db_, "PRAGMA quick_check", -1, &stmt, nullptr);
    if (dbCode_ == SQLITE_OK && Step(stmt) == SQLITE_ROW)
      if (const unsigned char* text = sqlite3_column_text(stmt, 0)) verdict = reinterpret_cast<const char*>(text);
    sqlite3_finalize(stmt);
    return dbCode_ == SQLITE_OK || dbCode_ == SQLITE_ROW || dbCode_ == SQLITE_DONE ? Status::Ok() : kDbFailure;
  });
  std::lock_guard<std::mutex> lock(mutex_);
  if (!status.ok()) {
    *reason = failure_.empty() ? DbFailure() : failure_;
    return false;
  }
  if (verdict != "ok") {
    *reason = "damaged: " + verdict;
    return false;
  }
  return true;
}

RegistryHive::RegistryHive(std::string path) : path_(std::move(path)) {
  std::lock_guard<std::mutex> lock(TheHives().liveMutex);
  TheHives().live.insert(this);
}

RegistryHive::~RegistryHive() {
  // Closed under the lock, so that a fork never copies a half-closed
  // connection into the child.
  std::lock_guard<std::mutex> lock(TheHives().liveMutex);
  TheHives().live.erase(this);
  Disconnect();
}

void RegistryHive::PrepareFork() {
  // No SQLite connection may cross fork(): its file locks stay with the
  // parent while its bookkeeping would be copied into the child. Close every
  // connection and keep the hives locked until the fork is done; both sides
  // reconnect on their next call.
  TheHives().currentMutex.lock();
  TheHives().liveMutex.lock();
  for (RegistryHive* hive : TheHives().live) {
    hive->mutex_.lock();
    hive->reconnect_ = hive->db_ != nullptr;
    hive->Disconnect();
  }
}

void RegistryHive::AfterForkParent() {
  // The parent connects again at once: a hive file removed later stays
  // readable through the open connection instead of being gone for good.
  for (RegistryHive* hive : TheHives().live)
    if (std::exchange(hive->reconnect_, false)) hive->Connect();
  AfterFork();
}

void RegistryHive::AfterFork() {
  for (RegistryHive* hive : TheHives().live) hive->mutex_.unlock();
  TheHives().liveMutex.unlock();
  TheHives().currentMutex.unlock();
}

void RegistryHive::CloseAllAtExit() {
  // Threads still running may use a hive afterwards; they reconnect.
  Hives& hives = TheHives();
  std::lock_guard<std::mutex> current(hives.currentMutex);
  std::lock_guard<std::mutex> live(hives.liveMutex);
  for (RegistryHive* hive : hives.live) {
    std::lock_guard<std::mutex> lock(hive->mutex_);
    hive->Disconnect();
  }
}

int RegistryHive::OnWalCommit(void*, sqlite3* db, const char* name, int pages) {
  if (pages < kCheckpointPages) return SQLITE_OK;
  // Busy (another process checkpoints or holds readers back): the next
  // commit tries again.
  int rc = sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  if (rc != SQLITE_OK)
    Trace::Write(TraceChannel::kRegistry, "checkpoint of a %d-page log deferred: %s", pages,
                 sqlite3_errstr(rc));
  return SQLITE_OK;
}

// SQLite removes the log when the connection that closes is the last one,
// which it tells by taking an exclusive lock on the database; if another
// process still holds its shared lock, the log stays for that process to
// remove. Two processes closing at the same moment would each find the
// other's lock and both leave the log behind, so closes are taken one at a
// time across processes, under a lock on the hive's folder (a lock on a
// file SQLite has open would be released with it).
void RegistryHive::Disconnect() {
  for (sqlite3_stmt*& stmt : stmts_) {
    if (stmt) sqlite3_finalize(stmt);
    stmt = nullptr;
  }
  if (!db_) return;
  std::string folder = std::filesystem::path(path_).parent_path().string();
  int lock = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock >= 0) flock(lock, LOCK_EX);
  sqlite3_close_v2(db_);
  if (lock >= 0) close(lock);
  db_ = nullptr;
}

bool RegistryHive::Exec(const char* sql) {
  dbCode_ = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return dbCode_ == SQLITE_OK;
}

std::string RegistryHive::DbFailure() const {
  std::string text = sqlite3_errstr(dbCode_);
  const int error = db_ ? sqlite3_system_errno(db_) : 0;
  if (error != 0) text += std::string(" (") + std::strerror(error) + ")";
  return text;
}

bool RegistryHive::MakeFilesPrivate() {
  // SQLite gives its log and shared-memory files the mode of the database.
  // Reconnecting (after a fork) never makes a hive afresh.
  const int fd = open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (connected_ ? 0 : O_CREAT), 0600);
  if (fd < 0) {
    failure_ = std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular && (st.st_mode & 077) != 0 && st.st_uid == geteuid()) fchmod(fd, 0600);
  close(fd);
  if (!regular) {
    failure_ = "it is not a file";
    return false;
  }
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string file = path_ + suffix;
    if (stat(file.c_str(), &st) == 0 && (st.st_mode & 077) != 0 && st.st_uid == geteuid())
      chmod(file.c_str(), 0600);
  }
  return true;
}

bool RegistryHive::Connect() {
  static_assert(sizeof(kStatements) / sizeof(kStatements[0]) == kStmtCount);
  failure_.clear();
  if (!MakeFilesPrivate()) return false;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (int rc = sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr); rc != SQLITE_OK) {
    dbCode_ = rc;
    failure_ = DbFailure();
    Disconnect();
    return false;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_wal_hook(db_, &RegistryHive::OnWalCommit, this);
  sqlite3_extended_result_codes(db_, 1);
  // Switching to WAL needs a moment of exclusive access, and others may be
  // creating or using the hive at the same time, so retry. A hive that has
  // its schema already is left as it is.
  auto deadline = Clock::now() + kBusyBudget;
  for (;;) {
    bool ok = Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=NORMAL") &&
              Exec("PRAGMA journal_size_limit=4194304");
    if (ok && SchemaVersion() != kSchemaVersion)
      ok = Exec("BEGIN IMMEDIATE") && Exec(kSchema) && Exec("PRAGMA user_version=1") &&
           Exec("COMMIT");
    if (ok) {
      connected_ = true;
      return true;
    }
    int code = dbCode_;
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    if (!IsBusy(code) || Clock::now() > deadline) {
      failure_ = DbFailure();
      Disconnect();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int RegistryHive::SchemaVersion() {
  sqlite3_stmt* stmt = nullptr;
  int version = -1;
  dbCode_ = sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &stmt, nullptr);
  if (dbCode_ == SQLITE_OK && Step(stmt) == SQLITE_ROW) version = sqlite3_column_int(stmt, 0);
  sqlite3_finalize(stmt);
  return version;
}

sqlite3_stmt* RegistryHive::Prepare(Stmt which) {
  if (!stmts_[which]) {
    dbCode_ = sqlite3_prepare_v3(db_, kStatements[which], -1, SQLITE_PREPARE_PERSISTENT,
                                 &stmts_[which], nullptr);
    if (dbCode_ != SQLITE_OK) {
      stmts_[which] = nullptr;
      return nullptr;
    }
  }
  return stmts_[which];
}

int RegistryHive::Step(sqlite3_stmt* stmt) {
  int rc = sqlite3_step(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) dbCode_ = rc;
  return rc;
}

template <class Body>
Status RegistryHive::Transact(bool write, Body body) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Status failure = write ? ERROR_CANTWRITE : ERROR_CANTREAD;
  if (!db_ && !Connect()) return failure;
  auto deadline = Clock::now() + kBusyBudget;
  for (int attempt = 0;; ++attempt) {
    Status result = kDbFailure;
    if (Exec(write ? "BEGIN IMMEDIATE" : "BEGIN")) {
      result = body();
      if (result.ok()) {
        if (Exec("COMMIT")) return ERROR_SUCCESS;
        result = kDbFailure;
      }
    }
    int code = dbCode_;
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    if (result != kDbFailure) return result;
    if (!IsBusy(code) || Clock::now() > deadline) return failure;
    std::this_thread::sleep_for(std::chrono::microseconds(200 << std::min(attempt, 6)));
  }
}

Status RegistryHive::KeyExists(int64_t key) {
  StmtUse stmt(Prepare(kKeyExists));
  if (!stmt) return kDbFailure;
  sqlite3_bind_int64(stmt.get(), 1, key);
  int rc = Step(stmt.get());
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  return rc == SQLITE_DONE ? ERROR_KEY_DELETED : kDbFailure;
}

Status RegistryHive::Touch(int64_t key) {
  StmtUse stmt(Prepare(kTouchKey));
  if (!stmt) return kDbFailure;
  sqlite3_bind_int64(stmt.get(), 1, key);
  sqlite3_bind_int64(stmt.get(), 2, static_cast<int64_t>(FileTimeNow()));
  return Step(stmt.get()) == SQLITE_DONE ? ERROR_SUCCESS : kDbFailure;
}

Status RegistryHive::Walk(int64_t parent, std::u16string_view path, bool create, int64_t* key,
                        bool* created) {
  if (Status status = KeyExists(parent); !status.ok()) return status;
  std::vector<std::u16string_view> parts = SplitPath(path);
  for (std::u16string_view part : parts) {
    if (part.size() > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
    // No key can have such a name: creating one is refused, finding one fails.
    if (!WellFormed(part)) return create ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;
  }
  int64_t id = parent;
  bool made = false;
  for (std::u16string_view part : parts) {
    std::u16string fold = NameFold::Fold(part);
    int64_t child = 0;
    {
      StmtUse find(Prepare(kFindChild));
      if (!find) return kDbFailure;
      sqlite3_bind_int64(find.get(), 1, id);
      BindText(find.get(), 2, fold);
      int rc = Step(find.get());
      if (rc == SQLITE_ROW) {
        child = sqlite3_column_int64(find.get(), 0);
      } else if (rc != SQLITE_DONE) {
        return kDbFailure;
      }
    }
    made = false;
    if (child == 0) {
      if (!create) return ERROR_FILE_NOT_FOUND;
      StmtUse insert(Prepare(kInsertKey));
      if (!insert) return kDbFailure;
      sqlite3_bind_int64(insert.get(), 1, id);
      BindText(insert.get(), 2, part);
      BindText(insert.get(), 3, fold);
      sqlite3_bind_int64(insert.get(), 4, static_cast<int64_t>(FileTimeNow()));
      if (Step(insert.get()) != SQLITE_DONE) return kDbFailure;
      child = sqlite3_last_insert_rowid(db_);
      if (!Touch(id).ok()) return kDbFailure;
      made = true;
    }
    id = child;
  }
  *key = id;
  if (created) *created = made;
  return ERROR_SUCCESS;
}

Status RegistryHive::OpenKey(int64_t parent, std::u16string_view path, int64_t* key) {
  int64_t found = 0;
  Status status = Transact(false, [&] { return Walk(parent, path, false, &found, nullptr); });
  if (status.ok()) *key = found;
  return status;
}

Status RegistryHive::CreateKey(int64_t parent, std::u16string_view path, int64_t* key,
                             bool* created) {
  int64_t found = 0;
  bool made = false;
  Status status = Transact(true, [&] { return Walk(parent, path, true, &found, &made); });
  if (status.ok()) {
    *key = found;
    *created = made;
  }
  return status;
}

Status RegistryHive::CheckKey(int64_t key) {
  return Transact(false, [&] { return KeyExists(key); });
}

Status RegistryHive::DeleteKey(int64_t parent, std::u16string_view path) {
  return Transact(true, [&]() -> Status {
    int64_t target = 0;
    if (Status status = Walk(parent, path, false, &target, nullptr); !status.ok())
      return status;
    if (target <= kUsers) return ERROR_ACCESS_DENIED;
    int64_t owner = 0;
    {
      StmtUse find(Prepare(kParentOf));
      if (!find) return kDbFailure;
      sqlite3_bind_int64(find.get(), 1, target);
      if (Step(find.get()) != SQLITE_ROW) return kDbFailure;
      owner = sqlite3_column_int64(find.get(), 0);
    }
    for (Stmt which : {kDeleteSubtreeValues, kDeleteSubtreeKeys}) {
      StmtUse del(Prepare(which));
      if (!del) return kDbFailure;
      sqlite3_bind_int64(del.get(), 1, target);
      if (Step(del.get()) != SQLITE_DONE) return kDbFailure;
    }
    // The deleted key's parent records the change.
    return Touch(owner);
  });
}

Status RegistryHive::QueryValue(int64_t key, std::u16string_view name, DWORD* type,
                              std::vector<BYTE>* data) {
  if (name.size() > kMaxValueNameChars || !WellFormed(name)) return ERROR_FILE_NOT_FOUND;
  return Transact(false, [&]() -> Status {
    if (Status status = KeyExists(key); !status.ok()) return status;
    StmtUse find(Prepare(kFindValue));
    if (!find) return kDbFailure;
    sqlite3_bind_int64(find.get(), 1, key);
    BindText(find.get(), 2, NameFold::Fold(name));
    int rc = Step(find.get());
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW) return kDbFailure;
    *type = static_cast<DWORD>(sqlite3_column_int64(find.get(), 0));
    *data = ColumnBlob(find.get(), 1);
    return ERROR_SUCCESS;
  });
}

Status RegistryHive::SetValue(int64_t key, std::u16string_view name, DWORD type, const BYTE* data,
                            size_t bytes) {
  if (name.size() > kMaxValueNameChars || !WellFormed(name)) return ERROR_INVALID_PARAMETER;
  return Transact(true, [&]() -> Status {
    if (Status status = KeyExists(key); !status.ok()) return status;
    StmtUse set(Prepare(kSetValue));
    if (!set) return kDbFailure;
    sqlite3_bind_int64(set.get(), 1, key);
    BindText(set.get(), 2, name);
    BindText(set.get(), 3, NameFold::Fold(name));
    sqlite3_bind_int64(set.get(), 4, type);
    static const BYTE kEmpty = 0;
    sqlite3_bind_blob(set.get(), 5, bytes ? data : &kEmpty, static_cast<int>(bytes),
                      SQLITE_STATIC);
    if (Step(set.get()) != SQLITE_DONE) return kDbFailure;
    return Touch(key);
  });
}

Status RegistryHive::DeleteValue(int64_t key, std::u16string_view name) {
  if (name.size() > kMaxValueNameChars || !WellFormed(name)) return ERROR_FILE_NOT_FOUND;
  return Transact(true, [&]() -> Status {
    if (Status status = KeyExists(key); !status.ok()) return status;
    StmtUse del(Prepare(kDeleteValue));
    if (!del) return kDbFailure;
    sqlite3_bind_int64(del.get(), 1, key);
    BindText(del.get(), 2, NameFold::Fold(name));
    if (Step(del.get()) != SQLITE_DONE) return kDbFailure;
    if (sqlite3_changes(db_) == 0) return ERROR_FILE_NOT_FOUND;
    return Touch(key);
  });
}

Status RegistryHive::EnumKey(int64_t key, DWORD index, std::u16string* name, uint64_t* lastWrite) {
  return Transact(false, [&]() -> Status {
    if (Status status = KeyExists(key); !status.ok()) return status;
    StmtUse enumerate(Prepare(kEnumKey));
    if (!enumerate) return kDbFailure;
    sqlite3_bind_int64(enumerate.get(), 1, key);
    sqlite3_bind_int64(enumerate.get(), 2, index);
    int rc = Step(enumerate.get());
    if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW) return kDbFailure;
    *name = ColumnText(enumerate.get(), 0);
    *lastWrite = static_cast<uint64_t>(sqlite3_column_int64(enumerate.get(), 1));
    return ERROR_SUCCESS;
  });
}

Status RegistryHive::EnumValue(int64_t key, DWORD index, std::u16string* name, DWORD* type,
                             std::vector<BYTE>* data) {
  return Transact(false, [&]() -> Status {
    if (Status status = KeyExists(key); !status.ok()) return status;
    StmtUse enumerate(Prepare(kEnumValue));
    if (!enumerate) return kDbFailure;
    sqlite3_bind_int64(enumerate.get(), 1, key);
    sqlite3_bind_int64(enumerate.get(), 2, index);
    int rc = Step(enumerate.get());
    if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW) return kDbFailure;
    *name = ColumnText(enumerate.get(), 0);
    *type = static_cast<DWORD>(sqlite3_column_int64(enumerate.get(), 1));
    *data = ColumnBlob(enumerate.get(), 2);
    return ERROR_SUCCESS;
  });
}

Status RegistryHive::QueryInfo(int64_t key, KeyInfo* info) {
  return Transact(false, [&]() -> Status {
    KeyInfo result;
    {
      StmtUse exists(Prepare(kKeyExists));
      if (!exists) return kDbFailure;
      sqlite3_bind_int64(exists.get(), 1, key);
      int rc = Step(exists.get());
      if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
      if (rc != SQLITE_ROW) return kDbFailure;
      result.lastWrite = static_cast<uint64_t>(sqlite3_column_int64(exists.get(), 0));
    }
    {
      StmtUse children(Prepare(kChildNames));
      if (!children) return kDbFailure;
      sqlite3_bind_int64(children.get(), 1, key);
      int rc;
      while ((rc = Step(children.get())) == SQLITE_ROW) {
        ++result.subKeys;
        DWORD chars = static_cast<DWORD>(sqlite3_column_bytes16(children.get(), 0) / 2);
        result.maxSubKeyChars = std::max(result.maxSubKeyChars, chars);
      }
      if (rc != SQLITE_DONE) return kDbFailure;
    }
    {
      StmtUse values(Prepare(kValueInfo));
      if (!values) return kDbFailure;
      sqlite3_bind_int64(values.get(), 1, key);
      int rc;
      while ((rc = Step(values.get())) == SQLITE_ROW) {
        ++result.values;
        DWORD chars = static_cast<DWORD>(sqlite3_column_bytes16(values.get(), 0) / 2);
        result.maxValueNameChars = std::max(result.maxValueNameChars, chars);
        DWORD bytes = static_cast<DWORD>(sqlite3_column_int64(values.get(), 1));
        result.maxValueBytes = std::max(result.maxValueBytes, bytes);
      }
      if (rc != SQLITE_DONE) return kDbFailure;
    }
    *info = result;
    return ERROR_SUCCESS;
  });
}

}  // namespace handheld::detail
