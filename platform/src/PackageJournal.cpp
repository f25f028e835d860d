#include "PackageJournal.h"

#include <unistd.h>

#include <filesystem>

#include "DeviceFolder.h"

namespace handheld::detail {

namespace fs = std::filesystem;

PackageJournal::PackageJournal()
    : backups_(DeviceFolder() + "/installer-undo-" + std::to_string(getpid())) {}

PackageJournal::~PackageJournal() { Commit(); }

PackageJournal::Copy PackageJournal::CopyFile(const std::string& source,
                                              const std::u16string& target) {
  const fs::path path = HostPath(target);
  std::error_code error;
  // The folders that are missing, outermost first.
  std::vector<fs::path> missing;
  for (fs::path folder = path.parent_path(); !folder.empty() && !fs::exists(folder, error);
       folder = folder.parent_path())
    missing.insert(missing.begin(), folder);
  for (const fs::path& folder : missing) {
    if (!fs::create_directory(folder, error)) return Copy::kFolderFailed;
    changes_.push_back({Change::kFolder, folder.string(), {}, {}, {}, false, {}});
  }
  if (!fs::is_regular_file(source, error)) return Copy::kFileFailed;
  const fs::path incoming = path.parent_path() / ("." + path.filename().string() + ".installing");
  if (!fs::copy_file(source, incoming, fs::copy_options::overwrite_existing, error))
    return Copy::kFileFailed;
  Change change{Change::kFile, path.string(), {}, {}, {}, false, {}};
  if (fs::exists(path, error)) {
    fs::create_directories(backups_, error);
    change.backup = backups_ + "/" + std::to_string(++backupCount_);
    fs::rename(path, change.backup, error);
    if (error) {
      fs::remove(incoming, error);
      return Copy::kFileFailed;
    }
  }
  fs::rename(incoming, path, error);
  changes_.push_back(change);
  if (error) {
    fs::remove(incoming, error);
    return Copy::kFileFailed;
  }
  return Copy::kDone;
}

bool PackageJournal::Write(const std::u16string& key, const std::u16string& name,
                           const StoredValue& value, bool* keyFailed) {
  *keyFailed = false;
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
      if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &made,
                          nullptr) != ERROR_SUCCESS) {
        *keyFailed = true;
        return false;
      }
      RegCloseKey(made);
      changes_.push_back({Change::kKey, {}, {}, path, {}, false, {}});
      createdKeys_.push_back(path);
    }
  }
  Change change{Change::kValue, {}, {}, key, name, false, {}};
  change.had = StoredValue::Read(key, name, &change.old);
  if (value.Write(key, name) != ERROR_SUCCESS) return false;
  changes_.push_back(change);
  return true;
}

void PackageJournal::Undo() {
  std::error_code error;
  for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) {
    switch (it->kind) {
      case Change::kFolder:
        fs::remove(it->path, error);  // only when empty
        break;
      case Change::kFile:
        fs::remove(it->path, error);
        if (!it->backup.empty()) fs::rename(it->backup, it->path, error);
        break;
      case Change::kKey:
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, it->key.c_str());
        break;
      case Change::kValue:
        if (it->had)
          static_cast<void>(it->old.Write(it->key, it->name));
        else
          StoredValue::Delete(it->key, it->name);
        break;
    }
  }
  changes_.clear();
  createdKeys_.clear();
  Commit();
}

void PackageJournal::Commit() {
  changes_.clear();
  std::error_code error;
  fs::remove_all(backups_, error);
}

}  // namespace handheld::detail
