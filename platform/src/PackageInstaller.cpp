#include "PackageInstaller.h"

#include <algorithm>
#include <filesystem>

#include "DeviceFolder.h"
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

  bool Load(const std::u16string& name) {
    module = LoadLibraryW(name.c_str());
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

PackageInstaller::Outcome PackageInstaller::Install(const PackageFile& package) {
  const std::u16string& name = package.name();
  const std::string label = ToUtf8(name);
  Record old;
  const bool previously = old.Read(name);
  Say("Installing " + label + (previously ? " over the installed copy" : ""));

  SetupPlugin plugin;
  if (!package.setup().empty() && !plugin.Load(FromUtf8(package.setup())))
    return Fail(label + ": cannot load the setup plug-in " + package.setup() +
                "; nothing was changed");
  if (plugin.installInit &&
      plugin.installInit(nullptr, TRUE, previously, kInstallDir) != codeINSTALL_INIT_CONTINUE)
    return Fail(label + ": the setup plug-in cancelled the installation; nothing was changed");

  PackageJournal journal;
  WORD failedDirs = 0, failedFiles = 0, failedKeys = 0, failedValues = 0;
  auto copy = [&](const std::string& source, const std::u16string& target) {
    switch (journal.CopyFile(source, target)) {
      case PackageJournal::Copy::kDone:
        Say("  copied " + ToUtf8(target));
        return;
      case PackageJournal::Copy::kFolderFailed:
        ++failedDirs;
        break;
      case PackageJournal::Copy::kFileFailed:
        ++failedFiles;
        break;
    }
    Say("  could not copy " + source + " to " + ToUtf8(target));
  };
  auto write = [&](const std::u16string& key, const std::u16string& value,
                   const StoredValue& stored) {
    bool keyFailed = false;
    if (journal.Write(key, value, stored, &keyFailed)) return true;
    ++(keyFailed ? failedKeys : failedValues);
    Say("  could not write " + ToUtf8(key) + "\\" + ToUtf8(value));
    return false;
  };

  Record record;
  for (const PackageFile::File& file : package.files()) {
    copy(file.source, file.target);
    record.files.push_back(file.target);
  }
  if (!package.setup().empty()) {
    record.setup = u"\\Windows\\AppMgr\\" + name + u".dll";
    copy(package.setup(), record.setup);
  }
  for (const PackageFile::Value& value : package.values()) {
    StoredValue stored = value.type == REG_DWORD ? StoredValue::Number(value.number)
                                                 : StoredValue::Text(value.text);
    if (write(value.key, value.name, stored)) {
      Say("  set " + ToUtf8(value.key) + "\\" + ToUtf8(value.name));
      record.values.push_back(value.key + u"\t" + value.name);
    }
  }
  for (const PackageFile::File& file : package.files()) {
    if (!file.shared) continue;
    record.shared.push_back(file.target);
    if (Contains(old.shared, file.target)) continue;  // counted when it was installed
    StoredValue count;
    DWORD packages = StoredValue::Read(kShared, file.target, &count) ? count.number() + 1 : 1;
    if (write(kShared, file.target, StoredValue::Number(packages)))
      Say("  " + ToUtf8(file.target) + " is shared by " + std::to_string(packages) +
          (packages == 1 ? " package" : " packages"));
  }
  record.keys = old.keys;
  for (const std::u16string& key : journal.createdKeys())
    if (!Contains(record.keys, key)) record.keys.push_back(key);
  const std::u16string recordKey = RecordKey(name);
  write(recordKey, u"Instl", StoredValue::Number(1));
  if (!record.setup.empty()) write(recordKey, u"Setup", StoredValue::Text(record.setup));
  write(recordKey, u"Files", StoredValue::List(record.files));
  write(recordKey, u"Shared", StoredValue::List(record.shared));
  write(recordKey, u"Keys", StoredValue::List(record.keys));
  write(recordKey, u"Values", StoredValue::List(record.values));

  const bool failed = failedDirs || failedFiles || failedKeys || failedValues;
  bool undo = failed;
  if (plugin.installExit)
    undo = plugin.installExit(nullptr, kInstallDir, failedDirs, failedFiles, failedKeys,
                              failedValues, 0) != codeINSTALL_EXIT_DONE;
  if (undo) {
    journal.Undo();
    return Fail(label + ": installation failed (" + std::to_string(failedDirs) + " folders, " +
                std::to_string(failedFiles) + " files, " + std::to_string(failedKeys) +
                " keys, " + std::to_string(failedValues) + " values not made) and was undone");
  }
  journal.Commit();
  Say(label + " installed" + (failed ? ", though not everything could be made" : ""));
  return {true, {}};
}

PackageInstaller::Outcome PackageInstaller::Uninstall(const std::u16string& name) {
  const std::string label = ToUtf8(name);
  Record record;
  if (name.empty() || name.find(u'\\') != std::u16string::npos || !record.Read(name))
    return Fail(label + " is not installed");
  Say("Uninstalling " + label);

  SetupPlugin plugin;
  if (!record.setup.empty() && !plugin.Load(record.setup))
    Say("  the setup plug-in " + ToUtf8(record.setup) + " cannot be loaded; going on without it");
  if (plugin.uninstallInit &&
      plugin.uninstallInit(nullptr, kInstallDir) != codeUNINSTALL_INIT_CONTINUE)
    return Fail(label + ": the setup plug-in cancelled the uninstallation; nothing was removed");

  for (const std::u16string& entry : record.values) {
    size_t tab = entry.find(u'\t');
    if (tab == std::u16string::npos) continue;
    std::u16string key = entry.substr(0, tab), value = entry.substr(tab + 1);
    if (StoredValue::Delete(key, value) == ERROR_SUCCESS)
      Say("  removed " + ToUtf8(key) + "\\" + ToUtf8(value));
  }
  std::error_code error;
  for (const std::u16string& file : record.files) {
    if (Contains(record.shared, file)) {
      StoredValue count;
      DWORD packages = StoredValue::Read(kShared, file, &count) ? count.number() : 0;
      if (packages > 1) {
        static_cast<void>(StoredValue::Number(packages - 1).Write(kShared, file));
        Say("  kept " + ToUtf8(file) + ", still shared by " + std::to_string(packages - 1) +
            (packages == 2 ? " package" : " packages"));
        continue;
      }
      StoredValue::Delete(kShared, file);
    }
    if (std::filesystem::remove(HostPath(file), error)) Say("  removed " + ToUtf8(file));
  }
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, RecordKey(name).c_str());

  if (plugin.uninstallExit) plugin.uninstallExit(nullptr);
  plugin.Free();
  if (!record.setup.empty()) std::filesystem::remove(HostPath(record.setup), error);
  // Innermost first; a key that the plug-in wrote to again stays.
  for (auto key = record.keys.rbegin(); key != record.keys.rend(); ++key)
    if (StoredValue::KeyEmpty(*key)) RegDeleteKeyW(HKEY_LOCAL_MACHINE, key->c_str());
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
