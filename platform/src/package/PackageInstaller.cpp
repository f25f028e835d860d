#include "PackageInstaller.h"

#include <algorithm>
#include <filesystem>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "DeviceFolder.h"
#include "HandheldPath.h"
#include "ModuleLoader.h"
#include "NameFold.h"
#include "PackageJournal.h"
#include "StoredValue.h"

namespace handheld::detail {

namespace {

const char16_t kApps[] = u"SOFTWARE\\Apps";
const char16_t kShared[] = u"SOFTWARE\\Apps\\Shared";
const char16_t kInstallDir[] = u"\\Windows";

std::u16string RecordKey(const std::u16string& name) { return std::u16string(kApps) + u"\\" + name; }

bool Contains(const std::vector<std::u16string>& list, const std::u16string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// What the installer keeps of an installed package.
struct Record {
  std::u16string setup;
  std::vector<std::u16string> files, shared, keys, values;

  bool Read(const std::u16string& name) {
    StoredValue installed, value;
    if (!StoredValue::Read(RecordKey(name), u"Instl", &installed) || installed.number() != 1)
      return false;
    if (StoredValue::Read(RecordKey(name), u"Setup", &value)) setup = value.text();
    std::pair<const char16_t*, std::vector<std::u16string>*> lists[] = {
        {u"Files", &files}, {u"Shared", &shared}, {u"Keys", &keys}, {u"Values", &values}};
    for (auto& [list, into] : lists)
      if (StoredValue::Read(RecordKey(name), list, &value)) *into = value.list();
    return true;
  }
};

// The package's setup plug-in while it is loaded; each hook is null when the
// plug-in lacks it (or there is none).
struct SetupPlugin {
  HMODULE module = nullptr;
  pfnINSTALL_INIT installInit = nullptr;
  pfnINSTALL_EXIT installExit = nullptr;
  pfnUNINSTALL_INIT uninstallInit = nullptr;
  pfnUNINSTALL_EXIT uninstallExit = nullptr;

  ~SetupPlugin() { Free(); }

  // By its handheld path (the installed copy), or, before anything is
  // installed, from the cabinet's bytes: written to a private file of the
  // device folder under a name of its own (the dynamic linker knows a
  // library by its name), loaded, and removed at once.
  bool Load(const std::u16string& name) { return Found(LoadLibraryW(name.c_str())); }
  bool LoadBytes(const std::vector<uint8_t>& bytes) {
    std::string path = DeviceFolder() + "/.installer-setup-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      ok = n > 0 || (n < 0 && errno == EINTR);
      if (n > 0) done += static_cast<size_t>(n);
    }
    ok = close(fd) == 0 && ok;
    void* loaded = nullptr;
    ok = ok && ModuleLoader::Instance().LoadFile(path, &loaded).ok();
    unlink(path.c_str());
    return Found(ok ? static_cast<HMODULE>(loaded) : nullptr);
  }

  bool Found(HMODULE loaded) {
    module = loaded;
    if (!module) return false;
    auto find = [&](const char16_t* hook) {
      return reinterpret_cast<void*>(GetProcAddressW(module, hook));
    };
    installInit = reinterpret_cast<pfnINSTALL_INIT>(find(u"Install_Init"));
    installExit = reinterpret_cast<pfnINSTALL_EXIT>(find(u"Install_Exit"));
    uninstallInit = reinterpret_cast<pfnUNINSTALL_INIT>(find(u"Uninstall_Init"));
    uninstallExit = reinterpret_cast<pfnUNINSTALL_EXIT>(find(u"Uninstall_Exit"));
    return true;
  }

  void Free() {
    if (module) FreeLibrary(module);
    module = nullptr;
    installInit = nullptr;
    installExit = nullptr;
    uninstallInit = nullptr;
    uninstallExit = nullptr;
  }
};

}  // namespace

void PackageInstaller::Say(const std::string& line) {
  if (out_) out_(line);
}

PackageInstaller::Outcome PackageInstaller::Fail(const std::string& reason) {
  Say(reason);
  return {false, reason};
}

namespace {

std::u16string SetupCopy(const std::u16string& name) {
  return u"\\Windows\\AppMgr\\" + name + u".dll";
}

// Every target is a place for a file: the path gate lets it through and
// nothing but a file is there, so a folder that a target names is never
// touched. False with the reason and the target's member.
bool CheckTargets(const CabinetPackage& package, std::string* reason) {
  auto refuse = [&](const std::u16string& target, int member, const std::string& why) {
    *reason = package.path() + ": the target " + ToUtf8(target) + " (member " +
              CabinetPackage::Suffix(member) + ") cannot be installed: " + why +
              "; nothing was changed";
    return false;
  };
  auto check = [&](const std::u16string& target, int member) {
    const HandheldPath path(target);
    if (!path.ok()) return refuse(target, member, path.reason());
    struct stat st {};
    if (lstat(path.host().c_str(), &st) == 0 && !S_ISREG(st.st_mode))
      return refuse(target, member, S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a file");
    return true;
  };
  const bool setup = package.hasSetup();
  for (const CabinetPackage::File& file : package.files()) {
    if (!check(file.target, file.number)) return false;
    if (setup && NameFold::Equal(file.target, SetupCopy(package.name())))
      return refuse(file.target, file.number, "it is where the setup plug-in's copy goes");
  }
  return !setup || check(SetupCopy(package.name()), 999);
}

// Whether a file marked to keep an existing target, or to go only over one,
// is left out; said in a line when it is.
bool Skipped(const CabinetPackage::File& file, const std::function<void(const std::string&)>& say) {
  struct stat st {};
  const bool there = lstat(HandheldPath(file.target).host().c_str(), &st) == 0;
  if (there && (file.flags & CabinetPackage::kKeepExisting)) {
    say("  kept the existing " + ToUtf8(file.target));
    return true;
  }
  if (!there && (file.flags & CabinetPackage::kOnlyIfThere)) {
    say("  left out " + ToUtf8(file.target) + ", which goes only over an existing file");
    return true;
  }
  return false;
}

// The copies and writes of one installation, counted by kind as the
// plug-in's Install_Exit is told.
struct Changes {
  PackageJournal journal;
  std::function<void(const std::string&)> say;
  WORD folders = 0, files = 0, keys = 0, values = 0;

  bool failed() const { return folders || files || keys || values; }

  void Copy(const std::vector<uint8_t>& bytes, const std::u16string& target) {
    std::string reason;
    switch (journal.WriteFile(bytes, target, &reason)) {
      case PackageJournal::Copy::kDone:
        say("  copied " + ToUtf8(target));
        return;
      case PackageJournal::Copy::kFolderFailed:
        ++folders;
        break;
      case PackageJournal::Copy::kFileFailed:
        ++files;
        break;
    }
    say("  could not copy " + ToUtf8(target) + ": " + reason);
  }

  bool Write(const std::u16string& key, const std::u16string& value, const StoredValue& stored) {
    bool keyFailed = false;
    if (journal.Write(key, value, stored, &keyFailed)) return true;
    ++(keyFailed ? keys : values);
    say("  could not write " + ToUtf8(key) + "\\" + ToUtf8(value));
    return false;
  }
};

// The keys that may be left empty by an uninstallation: those the package
// created, those it wrote values in, and the keys above those (but for the
// top-level ones it did not create), innermost first.
std::vector<std::u16string> KeysToTidy(const Record& record, const std::u16string& recordKey) {
  std::vector<std::u16string> keys = record.keys;
  std::vector<std::u16string> written{recordKey, kShared};
  for (const std::u16string& entry : record.values) written.push_back(entry.substr(0, entry.find(u'\t')));
  for (std::u16string key : written) {
    for (size_t slash; !key.empty(); key.resize(slash)) {
      if (!Contains(keys, key)) keys.push_back(key);
      slash = key.rfind(u'\\');
      if (slash == std::u16string::npos || key.find(u'\\') == slash) break;
    }
  }
  std::sort(keys.begin(), keys.end(), [](const std::u16string& a, const std::u16string& b) {
    return std::count(a.begin(), a.end(), u'\\') > std::count(b.begin(), b.end(), u'\\');
  });
  return keys;
}

// Writes the package's files, plug-in copy, values and shared counts
// through `changes`, noting in `record` what is the package's: a file or
// value kept as it stood stays the package's when it was before.
void Lay(const CabinetPackage& package, const Record& old, Changes* changes, Record* record) {
  for (const CabinetPackage::File& file : package.files()) {
    const bool skipped = Skipped(file, changes->say);
    if (!skipped) changes->Copy(file.bytes, file.target);
    if (!skipped || Contains(old.files, file.target)) record->files.push_back(file.target);
  }
  if (package.hasSetup()) {
    record->setup = SetupCopy(package.name());
    changes->Copy(package.setup(), record->setup);
  }
  for (const CabinetPackage::Value& value : package.values()) {
    const std::u16string entry = value.key + u"\t" + value.name;
    StoredValue existing;
    if (value.keepExisting && StoredValue::Read(value.key, value.name, &existing)) {
      changes->say("  kept the existing " + ToUtf8(value.key) + "\\" + ToUtf8(value.name));
      if (Contains(old.values, entry)) record->values.push_back(entry);
    } else if (changes->Write(value.key, value.name, value.value)) {
      changes->say("  set " + ToUtf8(value.key) + "\\" + ToUtf8(value.name));
      record->values.push_back(entry);
    }
  }
  for (const CabinetPackage::File& file : package.files()) {
    if (!file.shared || !Contains(record->files, file.target)) continue;
    record->shared.push_back(file.target);
    if (Contains(old.shared, file.target)) continue;  // counted when it was installed
    StoredValue count;
    DWORD packages = StoredValue::Read(kShared, file.target, &count) ? count.number() + 1 : 1;
    if (changes->Write(kShared, file.target, StoredValue::Number(packages)))
      changes->say("  " + ToUtf8(file.target) + " is shared by " + std::to_string(packages) +
                   (packages == 1 ? " package" : " packages"));
  }
}

}  // namespace

PackageInstaller::Outcome PackageInstaller::Install(const CabinetPackage& package) {
  const std::u16string& name = package.name();
  const std::string label = ToUtf8(name);
  std::string refused;
  if (!CheckTargets(package, &refused)) return Fail(label + ": " + refused);
  Record old;
  const bool previously = old.Read(name);
  Say("Installing " + label + (previously ? " over the installed copy" : ""));

  SetupPlugin plugin;
  if (package.hasSetup() && !plugin.LoadBytes(package.setup()))
    return Fail(label + ": cannot load the setup plug-in (member .999) of " + package.path() +
                "; nothing was changed");
  if (plugin.installInit &&
      plugin.installInit(nullptr, TRUE, previously, kInstallDir) != codeINSTALL_INIT_CONTINUE)
    return Fail(label + ": the setup plug-in cancelled the installation; nothing was changed");

  Changes changes;
  changes.say = [this](const std::string& line) { Say(line); };
  Record record;
  Lay(package, old, &changes, &record);
  record.keys = old.keys;
  for (const std::u16string& key : changes.journal.createdKeys())
    if (!Contains(record.keys, key)) record.keys.push_back(key);
  const std::u16string recordKey = RecordKey(name);
  if (!record.setup.empty()) changes.Write(recordKey, u"Setup", StoredValue::Text(record.setup));
  changes.Write(recordKey, u"Files", StoredValue::List(record.files));
  changes.Write(recordKey, u"Shared", StoredValue::List(record.shared));
  changes.Write(recordKey, u"Keys", StoredValue::List(record.keys));
  changes.Write(recordKey, u"Values", StoredValue::List(record.values));
  changes.Write(recordKey, u"Instl", StoredValue::Number(1));  // last: the package is whole

  bool undo = changes.failed();
  if (plugin.installExit)
    undo = plugin.installExit(nullptr, kInstallDir, changes.folders, changes.files, changes.keys,
                              changes.values, 0) != codeINSTALL_EXIT_DONE;
  if (undo) {
    const bool undone = changes.journal.Undo();
    return Fail(label + ": installation failed (" + std::to_string(changes.folders) +
                " folders, " + std::to_string(changes.files) + " files, " +
                std::to_string(changes.keys) + " keys, " + std::to_string(changes.values) +
                " values not made) and " +
                (undone ? "was undone" : "could not be undone entirely; the next start undoes it"));
  }
  changes.journal.Commit();
  Say(label + " installed" + (changes.failed() ? ", though not everything could be made" : ""));
  return {true, {}};
}

// Removes the package's values, files and record through `journal`; the
// reason of the first failure, or empty.
std::string PackageInstaller::Remove(const std::u16string& name, PackageJournal* journal) {
  Record record;
  record.Read(name);
  for (const std::u16string& entry : record.values) {
    size_t tab = entry.find(u'\t');
    if (tab == std::u16string::npos) continue;
    const std::u16string key = entry.substr(0, tab), value = entry.substr(tab + 1);
    StoredValue was;
    const bool there = StoredValue::Read(key, value, &was);
    if (LONG rc = journal->Delete(key, value); rc != ERROR_SUCCESS)
      return "cannot remove " + ToUtf8(key) + "\\" + ToUtf8(value) + " (error " +
             std::to_string(rc) + ")";
    if (there) Say("  removed " + ToUtf8(key) + "\\" + ToUtf8(value));
  }
  bool keyFailed = false;
  for (const std::u16string& file : record.files) {
    if (Contains(record.shared, file)) {
      StoredValue count;
      DWORD packages = StoredValue::Read(kShared, file, &count) ? count.number() : 0;
      if (packages > 1) {
        if (!journal->Write(kShared, file, StoredValue::Number(packages - 1), &keyFailed))
          return "cannot lower the count of " + ToUtf8(file) + " in the registry";
        Say("  kept " + ToUtf8(file) + ", still shared by " + std::to_string(packages - 1) +
            (packages == 2 ? " package" : " packages"));
        continue;
      }
      if (journal->Delete(kShared, file) != ERROR_SUCCESS)
        return "cannot remove the count of " + ToUtf8(file) + " from the registry";
    }
    const HandheldPath path(file);
    if (!path.ok()) {
      Say("  left " + ToUtf8(file) + " alone: " + path.reason());
      continue;
    }
    std::error_code error;
    const bool there = std::filesystem::is_regular_file(path.host(), error);
    std::string reason;
    if (!journal->RemoveFile(file, &reason)) return reason;
    if (there) Say("  removed " + ToUtf8(file));
  }
  for (const char16_t* value : {u"Instl", u"Setup", u"Files", u"Shared", u"Keys", u"Values"})
    if (journal->Delete(RecordKey(name), value) != ERROR_SUCCESS)
      return "cannot remove the package's record from the registry";
  if (StoredValue::KeyEmpty(RecordKey(name)) &&
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, RecordKey(name).c_str()) != ERROR_SUCCESS)
    return "cannot remove the package's record from the registry";
  return {};
}

PackageInstaller::Outcome PackageInstaller::Uninstall(const std::u16string& name) {
  const std::string label = ToUtf8(name);
  Record record;
  if (name.empty() || name.find(u'\\') != std::u16string::npos || !record.Read(name))
    return Fail(label + " is not installed");
  // An uninstallation that could not record itself would leave a package
  // listed whose files are gone: it does not start.
  if (LONG rc = StoredValue::Number(1).Write(RecordKey(name), u"Instl"); rc != ERROR_SUCCESS)
    return Fail(label + ": cannot uninstall: the registry cannot be written (error " +
                std::to_string(rc) + "); nothing was removed");
  Say("Uninstalling " + label);

  SetupPlugin plugin;
  if (!record.setup.empty() && !plugin.Load(record.setup))
    Say("  the setup plug-in " + ToUtf8(record.setup) + " cannot be loaded; going on without it");
  if (plugin.uninstallInit &&
      plugin.uninstallInit(nullptr, kInstallDir) != codeUNINSTALL_INIT_CONTINUE)
    return Fail(label + ": the setup plug-in cancelled the uninstallation; nothing was removed");

  PackageJournal journal;
  if (const std::string failure = Remove(name, &journal); !failure.empty()) {
    const bool undone = journal.Undo();
    return Fail(label + ": cannot uninstall: " + failure +
                (undone ? "; everything was put back"
                        : "; what was removed is put back at the next start"));
  }
  if (plugin.uninstallExit) plugin.uninstallExit(nullptr);
  plugin.Free();
  std::string reason;
  if (!record.setup.empty() && !journal.RemoveFile(record.setup, &reason))
    Say("  could not remove the setup plug-in's copy: " + reason);
  // Innermost first; a key that the plug-in wrote to again stays.
  for (const std::u16string& key : KeysToTidy(record, RecordKey(name)))
    if (StoredValue::KeyEmpty(key)) RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
  journal.Commit();
  Say(label + " uninstalled");
  return {true, {}};
}

std::vector<std::u16string> PackageInstaller::Installed() {
  std::vector<std::u16string> names;
  HKEY apps = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApps, 0, 0, &apps) != ERROR_SUCCESS) return names;
  WCHAR name[256];
  for (DWORD index = 0;; ++index) {
    DWORD chars = sizeof name / sizeof name[0];
    if (RegEnumKeyExW(apps, index, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    Record record;
    if (record.Read(std::u16string(name, chars))) names.emplace_back(name, chars);
  }
  RegCloseKey(apps);
  return names;
}

}  // namespace handheld::detail
