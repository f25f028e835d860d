#include "PackageJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "DeviceFolder.h"
#include "HandheldPath.h"

namespace handheld::detail {

namespace fs = std::filesystem;

namespace {

constexpr char kFolderPrefix[] = "installer-undo-";
constexpr char kJournalFile[] = "journal";

// Journal fields: text as the hexadecimal digits of its UTF-8 bytes (or of
// raw bytes), so nothing in a name can break a line apart.
std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out.empty() ? "-" : out;
}

bool Unhex(const std::string& field, std::string* bytes) {
  bytes->clear();
  if (field == "-") return true;
  if (field.size() % 2 != 0) return false;
  for (size_t i = 0; i < field.size(); i += 2) {
    int value = 0;
    for (char c : field.substr(i, 2)) {
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    *bytes += static_cast<char>(value);
  }
  return true;
}

std::string Folder(const std::string& name) { return DeviceFolder() + "/" + name; }

// The place a handheld path stands for, through the gate; empty if refused.
std::string Host(const std::u16string& path) { return HandheldPath(path).host(); }

std::string Why(std::error_code error) { return error.message(); }

// Writes `bytes` into a new file at `path` (one left by an installer that
// died is replaced), mode 0600 whatever the umask, flushed to the disk.
bool WriteNew(const std::string& path, const std::vector<uint8_t>& bytes, std::error_code* error) {
  unlink(path.c_str());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool ok = fd >= 0 && fchmod(fd, 0600) == 0;
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  if (!ok) *error = std::error_code(errno ? errno : EIO, std::generic_category());
  if (fd >= 0 && close(fd) != 0 && ok) {
    *error = std::error_code(errno, std::generic_category());
    ok = false;
  }
  return ok;
}

bool IsProcessAlive(long pid) { return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

}  // namespace

PackageJournal::PackageJournal()
    : PackageJournal(Folder(kFolderPrefix + std::to_string(getpid()))) {}

PackageJournal::PackageJournal(std::string folder) : folder_(std::move(folder)) {}

PackageJournal::~PackageJournal() { Commit(); }

std::string PackageJournal::BackupPath(int backup) const {
  return folder_ + "/" + std::to_string(backup);
}

// Appends the change to the journal file before it is made.
bool PackageJournal::Record(const Change& change, std::string* reason) {
  if (journal_ < 0) {
    if (mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
      *reason = "cannot make the installer's journal " + folder_ + ": " + std::strerror(errno);
      return false;
    }
    journal_ = open((folder_ + "/" + kJournalFile).c_str(),
                    O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (journal_ < 0) {
      *reason = "cannot write the installer's journal in " + folder_ + ": " + std::strerror(errno);
      return false;
    }
  }
  std::string bytes(change.old.bytes().begin(), change.old.bytes().end());
  std::ostringstream line;
  line << "FNMKV"[change.kind] << ' ' << Hex(ToUtf8(change.path)) << ' ' << change.backup << ' '
       << Hex(ToUtf8(change.key)) << ' ' << Hex(ToUtf8(change.name)) << ' ' << change.had << ' '
       << change.old.type() << ' ' << Hex(bytes) << '\n';
  const std::string text = line.str();
  if (write(journal_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    *reason = "cannot write the installer's journal in " + folder_ + ": " + std::strerror(errno);
    return false;
  }
  changes_.push_back(change);
  return true;
}

// The changes of a journal file: every complete line, up to the first that
// cannot be read.
bool PackageJournal::ReadJournal() {
  std::ifstream in(folder_ + "/" + kJournalFile);
  if (!in) return false;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    std::istringstream line(text.substr(start, end - start));
    std::string kind, path, key, name, bytes;
    Change change{};
    DWORD type = 0;
    line >> kind >> path >> change.backup >> key >> name >> change.had >> type >> bytes;
    const size_t at = std::string("FNMKV").find(kind);
    std::string p, k, n, b;
    if (!line || kind.size() != 1 || at == std::string::npos || !Unhex(path, &p) ||
        !Unhex(key, &k) || !Unhex(name, &n) || !Unhex(bytes, &b))
      break;
    change.kind = static_cast<Change::Kind>(at);
    change.path = FromUtf8(p);
    change.key = FromUtf8(k);
    change.name = FromUtf8(n);
    change.old = StoredValue(type, std::vector<BYTE>(b.begin(), b.end()));
    changes_.push_back(change);
  }
  return true;
}

PackageJournal::Copy PackageJournal::WriteFile(const std::vector<uint8_t>& bytes,
                                               const std::u16string& target, std::string* reason) {
  const HandheldPath path(target);
  if (!path.ok() || path.parts().empty()) {
    *reason = path.ok() ? "it is the root" : path.reason();
    return Copy::kFileFailed;
  }
  // The file system's root is there on every handheld; the folders on the
  // way that are missing are made, outermost first.
  mkdir((DeviceFolder() + "/files").c_str(), 0777);
  std::u16string folder;
  for (size_t i = 0; i + 1 < path.parts().size(); ++i) {
    folder += u"\\" + path.parts()[i];
    const std::string host = Host(folder);
    struct stat st {};
    if (!host.empty() && lstat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    if (host.empty() || errno != ENOENT) {
      *reason = ToUtf8(folder) + " is not a folder";
      return Copy::kFolderFailed;
    }
    if (!Record({Change::kFolder, folder, 0, {}, {}, false, {}}, reason))
      return Copy::kFolderFailed;
    if (mkdir(host.c_str(), 0777) != 0) {
      *reason = "cannot make " + ToUtf8(folder) + ": " + std::strerror(errno);
      return Copy::kFolderFailed;
    }
  }
  struct stat st {};
  const bool exists = lstat(path.host().c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    *reason = ToUtf8(path.path()) + (S_ISDIR(st.st_mode) ? " is a folder" : " is not a file");
    return Copy::kFileFailed;
  }
  Change change{exists ? Change::kMovedFile : Change::kNewFile, path.path(), 0, {}, {}, false, {}};
  if (exists) change.backup = ++backupCount_;
  if (!Record(change, reason)) return Copy::kFileFailed;
  const std::string host = path.host();
  const std::string incoming =
      host.substr(0, host.rfind('/') + 1) + "." + ToUtf8(path.parts().back()) + ".installing";
  auto fail = [&](std::error_code why) {
    *reason = "cannot write " + ToUtf8(path.path()) + ": " + Why(why);
    fs::remove(incoming, why);
    return Copy::kFileFailed;
  };
  std::error_code error;
  if (!WriteNew(incoming, bytes, &error)) return fail(error);
  if (exists && rename(host.c_str(), BackupPath(change.backup).c_str()) != 0)
    return fail(std::error_code(errno, std::generic_category()));
  if (rename(incoming.c_str(), host.c_str()) != 0) {
    error = std::error_code(errno, std::generic_category());
    if (exists) rename(BackupPath(change.backup).c_str(), host.c_str());
    return fail(error);
  }
  return Copy::kDone;
}

bool PackageJournal::RemoveFile(const std::u16string& target, std::string* reason) {
  const HandheldPath path(target);
  if (!path.ok()) {
    *reason = path.reason();
    return false;
  }
  struct stat st {};
  if (lstat(path.host().c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISREG(st.st_mode)) {
    *reason = ToUtf8(path.path()) + " is not a file";
    return false;
  }
  Change change{Change::kMovedFile, path.path(), ++backupCount_, {}, {}, false, {}};
  if (!Record(change, reason)) return false;
  if (rename(path.host().c_str(), BackupPath(change.backup).c_str()) != 0) {
    *reason = "cannot remove " + ToUtf8(path.path()) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool PackageJournal::Write(const std::u16string& key, const std::u16string& name,
                           const StoredValue& value, bool* keyFailed) {
  *keyFailed = false;
  std::string ignored;
  if (!StoredValue::KeyExists(key)) {
    // The keys that are missing, outermost first; each is recorded once made.
    std::vector<std::u16string> missing;
    for (std::u16string path = key; !path.empty() && !StoredValue::KeyExists(path);) {
      missing.insert(missing.begin(), path);
      size_t slash = path.rfind(u'\\');
      path.resize(slash == std::u16string::npos ? 0 : slash);
    }
    for (const std::u16string& path : missing) {
      HKEY made = nullptr;
      if (!Record({Change::kKey, {}, 0, path, {}, false, {}}, &ignored) ||
          RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &made,
                          nullptr) != ERROR_SUCCESS) {
        *keyFailed = true;
        return false;
      }
      RegCloseKey(made);
      createdKeys_.push_back(path);
    }
  }
  Change change{Change::kValue, {}, 0, key, name, false, {}};
  change.had = StoredValue::Read(key, name, &change.old);
  return Record(change, &ignored) && value.Write(key, name) == ERROR_SUCCESS;
}

LONG PackageJournal::Delete(const std::u16string& key, const std::u16string& name) {
  Change change{Change::kValue, {}, 0, key, name, false, {}};
  change.had = StoredValue::Read(key, name, &change.old);
  if (!change.had) return ERROR_SUCCESS;
  std::string ignored;
  if (!Record(change, &ignored)) return ERROR_GEN_FAILURE;
  return StoredValue::Delete(key, name);
}

// Puts one change back; undoing one that was recorded but never made, or
// one already undone, changes nothing.
bool PackageJournal::UndoChange(const Change& change) {
  std::error_code error;
  const std::string host = change.path.empty() ? std::string() : Host(change.path);
  switch (change.kind) {
    case Change::kFolder:
      if (!host.empty()) rmdir(host.c_str());  // only when empty
      return true;
    case Change::kNewFile:
    case Change::kMovedFile: {
      if (host.empty()) return true;  // refused by the gate: nothing of ours
      const std::string folder = host.substr(0, host.rfind('/') + 1);
      const std::string name = host.substr(host.rfind('/') + 1);
      unlink((folder + "." + name + ".installing").c_str());
      if (change.kind == Change::kNewFile) {
        struct stat st {};
        if (lstat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(host.c_str());
        return true;
      }
      // Only a moved file that is still in the journal's folder goes back.
      const std::string backup = BackupPath(change.backup);
      if (!fs::exists(backup, error)) return true;
      return rename(backup.c_str(), host.c_str()) == 0;
    }
    case Change::kKey:
      if (StoredValue::KeyEmpty(change.key))
        return RegDeleteKeyW(HKEY_LOCAL_MACHINE, change.key.c_str()) == ERROR_SUCCESS;
      return true;
    case Change::kValue:
      if (change.had) return change.old.Write(change.key, change.name) == ERROR_SUCCESS;
      {
        const LONG rc = StoredValue::Delete(change.key, change.name);
        return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND || !StoredValue::KeyExists(change.key);
      }
  }
  return false;
}

bool PackageJournal::Undo() {
  bool all = true;
  for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) all = UndoChange(*it) && all;
  createdKeys_.clear();
  if (!all) {
    changes_.clear();
    if (journal_ >= 0) close(journal_);
    journal_ = -1;
    folder_.clear();  // kept for the next start
    return false;
  }
  Commit();
  return true;
}

void PackageJournal::Commit() {
  changes_.clear();
  if (journal_ >= 0) close(journal_);
  journal_ = -1;
  if (folder_.empty()) return;
  // The journal goes first: a folder without it holds nothing to undo.
  unlink((folder_ + "/" + kJournalFile).c_str());
  std::error_code error;
  fs::remove_all(folder_, error);
}

bool PackageJournal::Recover(const std::function<void(const std::string&)>& say,
                             std::string* reason) {
  bool all = true;
  DIR* dir = opendir(DeviceFolder().c_str());
  if (!dir) return true;  // nothing there yet
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir))
    if (std::strncmp(entry->d_name, kFolderPrefix, sizeof kFolderPrefix - 1) == 0)
      names.push_back(entry->d_name);
  closedir(dir);
  for (const std::string& name : names) {
    const std::string pid = name.substr(sizeof kFolderPrefix - 1);
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos ||
        pid.size() > 9)
      continue;
    const long process = std::stol(pid);
    if (process != getpid() && IsProcessAlive(process)) {
      say("The installer journal " + name + " is left alone: process " + pid + " still runs");
      continue;
    }
    struct stat st {};
    if (lstat(Folder(name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    PackageJournal journal(Folder(name));
    const bool found = journal.ReadJournal();
    const size_t changes = journal.changes_.size();
    if (journal.Undo()) {
      say(found ? "An installation or removal that process " + pid +
                      " did not finish was rolled back (" + std::to_string(changes) +
                      " changes undone)"
                : "The leftovers of process " + pid + "'s finished installation were removed");
    } else {
      *reason = "cannot roll back what process " + pid + "'s unfinished installation changed (" +
                Folder(name) + ")";
      say(*reason);
      all = false;
    }
  }
  return all;
}

}  // namespace handheld::detail
