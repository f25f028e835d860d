#include "CabinetPackage.h"

#include "CabinetFile.h"
#include "DeviceFolder.h"
#include "HandheldPath.h"
#include "NameFold.h"

namespace handheld::detail {

namespace {

constexpr int kControlMember = 0;
constexpr int kSetupMember = 999;
// The handheld: Windows CE 3.0 on an ARM processor.
constexpr uint32_t kVersion[2] = {3, 0};
constexpr uint32_t kProcessors[] = {0, 2577, 1824, 2080, 2336, 70001};  // any, then ARM kinds
// The installer's own keys, which no package writes.
constexpr char16_t kApps[] = u"SOFTWARE\\Apps";

// The number of a member named "<name>.NNN", or -1.
int MemberNumber(const std::string& name) {
  if (name.size() < 4 || name[name.size() - 4] != '.') return -1;
  int number = 0;
  for (size_t i = name.size() - 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

// Whether version `a` (major, minor) comes before `b`.
bool Before(const uint32_t* a, const uint32_t* b) {
  return a[0] < b[0] || (a[0] == b[0] && a[1] < b[1]);
}

// A member's name as a reason shows it: on one line, each byte that is
// not printable ASCII as '?'.
std::string Shown(std::string name) {
  for (char& c : name)
    if (c < 0x20 || c > 0x7E) c = '?';
  return name;
}

std::string Version(const uint32_t* version) {
  return std::to_string(version[0]) + "." + std::to_string(version[1]);
}

// `text` with each %CEn% folder macro replaced by its folder.
std::string Substituted(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const size_t end = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
    const char* folder =
        end == std::string::npos ? nullptr : CabControlFile::MacroFolder(text.substr(i, end - i + 1));
    if (folder) {
      out += folder;
      i = end + 1;
    } else {
      out += text[i++];
    }
  }
  return out;
}

template <class Entry>
const Entry* ById(const std::vector<Entry>& entries, uint16_t id) {
  for (const Entry& entry : entries)
    if (entry.id == id) return &entry;
  return nullptr;
}

}  // namespace

std::string CabinetPackage::Suffix(int number) {
  const std::string digits = std::to_string(number % 1000);
  return "." + std::string(3 - digits.size(), '0') + digits;
}

bool CabinetPackage::Fail(const std::string& why, std::string* reason) const {
  *reason = path_ + ": " + why;
  return false;
}

bool CabinetPackage::Load(const std::string& path, std::string* reason) {
  *this = CabinetPackage{};
  path_ = path;
  CabinetFile cabinet;
  if (!cabinet.Load(path, reason)) return false;
  // Only the number identifies a member.
  std::vector<std::vector<uint8_t>*> members(1000, nullptr);
  for (CabinetFile::Member& member : cabinet.members()) {
    const int number = MemberNumber(member.name);
    if (number < 0) return Fail("its member " + Shown(member.name) + " has no three-digit number", reason);
    if (members[number]) return Fail("two of its members are numbered " + Suffix(number), reason);
    members[number] = &member.bytes;
  }
  if (!members[kControlMember]) return Fail("it holds no control file (a member .000)", reason);
  CabControlFile::Contents control;
  std::string why;
  const std::vector<uint8_t>& bytes = *members[kControlMember];
  if (!CabControlFile::Read(bytes.data(), bytes.size(), &control, &why).ok())
    return Fail("its control file is refused: " + why, reason);
  std::string nameWhy;
  const std::u16string name = FromUtf8(control.appName);
  if (NameFold::Equal(name, u"Shared") || !HandheldPath::IsPartName(name, &nameWhy))
    return Fail("the application name " + control.appName + " cannot name a package" +
                    (nameWhy.empty() ? std::string() : ": " + nameWhy),
                reason);
  name_ = name;
  if (!CheckHandheld(control, reason) || !TakeFiles(control, &members, reason) ||
      !TakeValues(control, reason))
    return false;
  if (members[kSetupMember]) {
    hasSetup_ = true;
    setup_ = std::move(*members[kSetupMember]);
  }
  return true;
}

// What the control file asks of the handheld, and what this installer
// does not make.
bool CabinetPackage::CheckHandheld(const CabControlFile::Contents& control,
                                   std::string* reason) const {
  bool arm = false;
  for (uint32_t processor : kProcessors) arm = arm || control.processor == processor;
  if (!arm)
    return Fail("it is made for processor " + std::to_string(control.processor) +
                    ", not for the handheld's ARM",
                reason);
  if (control.versionMin[0] != 0 && Before(kVersion, control.versionMin))
    return Fail("it needs Windows CE " + Version(control.versionMin) + " or later; the handheld runs " +
                    Version(kVersion),
                reason);
  if (control.versionMax[0] != 0 && Before(control.versionMax, kVersion))
    return Fail("it is for Windows CE up to " + Version(control.versionMax) +
                    "; the handheld runs " + Version(kVersion),
                reason);
  if (!control.links.empty())
    return Fail("it holds " + std::to_string(control.links.size()) +
                    " shortcuts, which this installer does not make",
                reason);
  return true;
}

// Each file entry with its member: its target through the path gate, no
// two on one target, and no member left without an entry.
bool CabinetPackage::TakeFiles(const CabControlFile::Contents& control,
                               std::vector<std::vector<uint8_t>*>* members, std::string* reason) {
  std::vector<bool> taken(members->size(), false);
  for (const CabControlFile::File& entry : control.files) {
    const std::string label = "the file " + entry.name + " (member " + Suffix(entry.id) + ")";
    if (!(*members)[entry.id]) return Fail(label + " is not in the cabinet", reason);
    if (entry.flags & kSelfRegister)
      return Fail(label + " asks to register itself, which this installer does not do", reason);
    const CabControlFile::Directory* folder = ById(control.directories, entry.directory);
    const std::string device = (folder ? CabControlFile::DevicePath(folder->parts) : "") + "\\" + entry.name;
    const HandheldPath target(FromUtf8(device));
    if (!target.ok() || target.parts().size() < 2)
      return Fail(label + " would go to " + device + ", which the handheld cannot hold: " +
                      (target.ok() ? std::string("it is not in a folder") : target.reason()),
                  reason);
    for (const File& file : files_)
      if (NameFold::Equal(file.target, target.path()))
        return Fail(label + " goes where member " + Suffix(file.number) + " goes, " + device, reason);
    taken[entry.id] = true;
    files_.push_back({entry.id, target.path(), std::move(*(*members)[entry.id]),
                      (entry.flags & CabControlFile::kFileShared) != 0, entry.flags});
  }
  for (size_t number = 1; number < kSetupMember; ++number)
    if ((*members)[number] && !taken[number])
      return Fail("its member " + Suffix(static_cast<int>(number)) + " has no file entry", reason);
  return true;
}

bool CabinetPackage::TakeValues(const CabControlFile::Contents& control, std::string* reason) {
  for (const CabControlFile::Value& entry : control.values) {
    const CabControlFile::Hive* hive = ById(control.hives, entry.hive);
    if (!hive) return Fail("its registry value " + entry.name + " names no key", reason);
    std::string key;
    for (const std::string& part : hive->parts) key += (key.empty() ? "" : "\\") + part;
    const std::u16string wideKey = FromUtf8(key);
    const size_t apps = std::char_traits<char16_t>::length(kApps);
    if (NameFold::Equal(wideKey.substr(0, apps), kApps) &&
        (wideKey.size() == apps || wideKey[apps] == u'\\'))
      return Fail("its registry value " + key + "\\" + entry.name + " is in " + ToUtf8(kApps) +
                      ", which only the installer writes",
                  reason);
    Value value;
    value.key = wideKey;
    value.name = FromUtf8(entry.name);
    value.keepExisting = (entry.type & CabControlFile::kValueKeepExisting) != 0;
    const bool number =
        (entry.type & ~CabControlFile::kValueKeepExisting) == CabControlFile::kValueDword;
    value.value = number ? StoredValue::Number(entry.number)
                         : StoredValue::Text(FromUtf8(entry.substitute ? Substituted(entry.text)
                                                                       : entry.text));
    values_.push_back(std::move(value));
  }
  return true;
}

}  // namespace handheld::detail
