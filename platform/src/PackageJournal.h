// The changes an installation makes to the handheld -- files copied,
// folders and registry keys made, registry values written -- each recorded
// with what it replaced, so the whole installation can be undone (Undo) or
// kept (Commit). Files replaced are moved aside into a folder of the
// journal's own in the device folder until then; a file is copied under a
// temporary name and renamed into place, so a library that a process has
// loaded keeps its old contents.
#pragma once

#include <string>
#include <vector>

#include "StoredValue.h"

namespace handheld::detail {

class PackageJournal {
 public:
  PackageJournal();
  ~PackageJournal();  // commits what is still recorded
  PackageJournal(const PackageJournal&) = delete;
  PackageJournal& operator=(const PackageJournal&) = delete;

  enum class Copy { kDone, kFolderFailed, kFileFailed };
  Copy CopyFile(const std::string& source, const std::u16string& target);
  // Writes `value`, creating its key (and the keys above it) when missing.
  // False when the key could not be made (`keyFailed`) or the value not
  // written.
  bool Write(const std::u16string& key, const std::u16string& name, const StoredValue& value,
             bool* keyFailed);

  // The registry keys this journal created, outermost first.
  const std::vector<std::u16string>& createdKeys() const { return createdKeys_; }

  void Undo();
  void Commit();

 private:
  struct Change {
    enum Kind { kFolder, kFile, kKey, kValue } kind;
    std::string path;           // host path of a folder or file
    std::string backup;         // where a replaced file went, or empty
    std::u16string key, name;   // a key, or a value's key and name
    bool had = false;           // the value was there before
    StoredValue old;
  };

  std::string backups_;
  int backupCount_ = 0;
  std::vector<Change> changes_;
  std::vector<std::u16string> createdKeys_;
};

}  // namespace handheld::detail
