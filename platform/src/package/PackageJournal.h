// The changes an installation or removal makes to the handheld -- files
// copied or removed, folders and registry keys made, registry values
// written or deleted -- each recorded with what it replaced, so the whole
// can be undone (Undo) or kept (Commit). Files replaced or removed are
// moved aside into a folder of the journal's own in the device folder,
// "installer-undo-<pid>", until then; a file is copied under a temporary
// name (".<name>.installing") and renamed into place, so a library that a
// process has loaded keeps its old contents.
//
// Each change is written to the folder's "journal" file before it is made,
// so the changes of an installer that ended before committing (killed, or
// its machine stopped) can be undone by the next one: Recover, called
// before anything else uses the device folder, rolls every such journal
// back. Handheld paths in the journal go through the path gate again when
// it is read. A journal without its file (ended while committing) is
// simply removed.
#pragma once

#include <cstdint>
#include <functional>
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
  // Writes `bytes` as the handheld file `target` (private to the user, as
  // every file of the device folder); a target that is a folder or any
  // other non-file is not touched. The reason of a failure in `reason`.
  Copy WriteFile(const std::vector<uint8_t>& bytes, const std::u16string& target,
                 std::string* reason);
  // Moves the handheld file `target` aside (removed at Commit, put back by
  // Undo). True when it is gone or was not there.
  bool RemoveFile(const std::u16string& target, std::string* reason);
  // Writes `value`, creating its key (and the keys above it) when missing.
  // False when the key could not be made (`keyFailed`) or the value not
  // written.
  bool Write(const std::u16string& key, const std::u16string& name, const StoredValue& value,
             bool* keyFailed);
  // Deletes a value; ERROR_SUCCESS also when it was not there.
  LONG Delete(const std::u16string& key, const std::u16string& name);

  // The registry keys this journal created, outermost first.
  const std::vector<std::u16string>& createdKeys() const { return createdKeys_; }

  // False when something could not be put back; the journal then stays in
  // the device folder for the next start to finish.
  bool Undo();
  void Commit();

  // Rolls back the journals that installers which have ended left in the
  // device folder, telling `say` about each. False with `reason` when one
  // could not be rolled back entirely (it is kept, to be tried again).
  static bool Recover(const std::function<void(const std::string&)>& say, std::string* reason);

 private:
  struct Change {
    enum Kind { kFolder, kNewFile, kMovedFile, kKey, kValue } kind;
    std::u16string path;        // handheld path of a folder or file
    int backup = 0;             // where a moved file went, in the journal's folder
    std::u16string key, name;   // a key, or a value's key and name
    bool had = false;           // the value was there before
    StoredValue old;
  };

  explicit PackageJournal(std::string folder);
  bool Record(const Change& change, std::string* reason);
  bool UndoChange(const Change& change);
  bool ReadJournal();
  std::string BackupPath(int backup) const;

  std::string folder_;
  int journal_ = -1;  // the journal file, once there is something in it
  int backupCount_ = 0;
  std::vector<Change> changes_;
  std::vector<std::u16string> createdKeys_;
};

}  // namespace handheld::detail
