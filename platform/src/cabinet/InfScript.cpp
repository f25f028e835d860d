#include "InfScript.h"

#include <fstream>
#include <map>
#include <set>

#include "CabControlFile.h"

namespace handheld::detail {

namespace {

std::string Folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string Trimmed(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

bool Printable(const std::string& text) {
  for (char c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

Status Refuse(std::string* reason, int line, const std::string& text) {
  *reason = std::to_string(line) + ": " + text;
  return CabControlFile::kInvalidData;
}

// A decimal number or 0x and up to 8 hexadecimal digits, at most 32 bits.
bool Number(const std::string& text, uint32_t* value) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::string digits = hex ? text.substr(2) : text;
  const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (digits.empty() || digits.size() > (hex ? 8u : 10u) ||
      digits.find_first_not_of(allowed) != std::string::npos)
    return false;
  unsigned long long number = std::stoull(digits, nullptr, hex ? 16 : 10);
  if (number > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

// "<major>.<minor>", each at most 65535.
bool Version(const std::string& text, uint32_t out[2]) {
  size_t dot = text.find('.');
  if (dot == std::string::npos || text.find_first_not_of("0123456789.") != std::string::npos)
    return false;
  std::string major = text.substr(0, dot), minor = text.substr(dot + 1);
  if (!Number(major, &out[0]) || !Number(minor, &out[1]) || major.size() > 5 || minor.size() > 5)
    return false;
  return out[0] <= 0xFFFF && out[1] <= 0xFFFF;
}

// Cuts a line at ';' outside quotes; false when a quote is left open.
bool WithoutComment(std::string_view line, std::string* out) {
  bool quoted = false;
  size_t i = 0;
  for (; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ';' && !quoted) break;
  }
  *out = Trimmed(line.substr(0, i));
  return !quoted;
}

// Comma-separated fields, each trimmed, a quoted one unquoted ("" = ").
const char* SplitFields(const std::string& text, std::vector<std::string>* fields) {
  fields->assign(1, std::string());
  size_t i = 0;
  while (i <= text.size()) {
    std::string field;
    size_t end = i;
    while (end < text.size() && text[end] != ',' && text[end] != '"') ++end;
    std::string head = Trimmed(std::string_view(text).substr(i, end - i));
    if (end < text.size() && text[end] == '"') {
      if (!head.empty()) return "text before a quote";
      for (++end; end < text.size(); ++end) {
        if (text[end] == '"' && end + 1 < text.size() && text[end + 1] == '"') ++end;
        else if (text[end] == '"') break;
        field += text[end];
      }
      size_t next = text.find(',', end);
      if (!Trimmed(std::string_view(text).substr(end + 1, next == std::string::npos
                                                               ? std::string::npos
                                                               : next - end - 1))
               .empty())
        return "text after a closing quote";
      end = next == std::string::npos ? text.size() : next;
    } else {
      field = head;
    }
    fields->back() = field;
    if (end >= text.size()) break;
    fields->emplace_back();
    i = end + 1;
  }
  return nullptr;
}

}  // namespace

Status InfScript::Load(const std::string& path, std::string* reason) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *reason = "cannot read installation script " + path;
    return ERROR_FILE_NOT_FOUND;
  }
  std::string text;
  text.resize(kMaxSize + 1);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  Status status = Parse(text, reason);
  if (!status.ok()) *reason = path + ":" + *reason;
  return status;
}

Status InfScript::Parse(std::string_view text, std::string* reason) {
  *this = InfScript();
  if (text.size() > kMaxSize) return Refuse(reason, 1, "script larger than 1 MiB");
  Status status = Split(text, reason);
  if (status.ok()) status = ReadHead(reason);
  if (status.ok()) status = ReadDisks(reason);
  if (status.ok()) status = ReadInstall(reason);
  for (size_t i = 0; status.ok() && i < sections_.size(); ++i) {
    if (!sections_[i].used)
      status = Refuse(reason, sections_[i].number,
                      "section [" + sections_[i].name + "] is not one this script may use");
  }
  if (!status.ok()) *this = InfScript();
  return status;
}

Status InfScript::Split(std::string_view text, std::string* reason) {
  int number = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    std::string_view raw = text.substr(at, end == std::string_view::npos ? text.npos : end - at);
    at = end == std::string_view::npos ? text.size() : end + 1;
    ++number;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    if (raw.size() > kMaxLine) return Refuse(reason, number, "line longer than 1024 characters");
    std::string line, spaced(raw);
    for (char& c : spaced)
      if (c == '\t') c = ' ';
    if (!WithoutComment(spaced, &line)) return Refuse(reason, number, "a quote left open");
    if (!Printable(line)) return Refuse(reason, number, "a character that is not printable ASCII");
    if (line.empty()) continue;
    if (line[0] == '[') {
      std::string name = line.size() > 2 && line.back() == ']' ? Trimmed(line.substr(1, line.size() - 2)) : "";
      if (name.empty() || name.size() > 64)
        return Refuse(reason, number, "a section header without its name or its ']'");
      if (Find(name)) return Refuse(reason, number, "section [" + name + "] given twice");
      sections_.push_back(Section{name, number, false, {}, {}, {}});
      continue;
    }
    if (sections_.empty()) return Refuse(reason, number, "a line before the first section");
    sections_.back().raw.push_back(line);
    sections_.back().rawNumbers.push_back(number);
  }
  return Status::Ok();
}

InfScript::Section* InfScript::Find(const std::string& name) {
  for (Section& section : sections_)
    if (Folded(section.name) == Folded(name)) return &section;
  return nullptr;
}

Status InfScript::Fields(Section& section, bool keyed, std::string* reason) {
  section.used = true;
  section.lines.clear();
  std::set<std::string> keys;
  for (size_t i = 0; i < section.raw.size(); ++i) {
    Line line;
    line.number = section.rawNumbers[i];
    std::string rest = section.raw[i];
    if (keyed) {
      size_t equals = rest.find('=');
      if (equals == std::string::npos || rest.find('"') < equals)
        return Refuse(reason, line.number, "expected <key> = <value> in [" + section.name + "]");
      line.key = Trimmed(rest.substr(0, equals));
      rest = rest.substr(equals + 1);
      if (line.key.empty()) return Refuse(reason, line.number, "a line without its key");
      if (!keys.insert(Folded(line.key)).second)
        return Refuse(reason, line.number, "key " + line.key + " given twice");
    }
    if (const char* why = SplitFields(rest, &line.fields)) return Refuse(reason, line.number, why);
    section.lines.push_back(line);
  }
  return Status::Ok();
}

// The one field of key `key` in `lines`, or null when absent.
const std::string* InfScript::One(const std::vector<Line>& lines, const char* key, int* number) {
  for (const auto& line : lines) {
    if (Folded(line.key) == key) {
      *number = line.number;
      return &line.fields[0];
    }
  }
  return nullptr;
}

// Only the listed keys, each with one field.
Status InfScript::Keys(Section* section, std::initializer_list<const char*> allowed,
                       std::string* reason) {
  if (section == nullptr) return Status::Ok();
  Status status = Fields(*section, true, reason);
  for (const Line& line : section->lines) {
    if (!status.ok()) break;
    bool known = false;
    for (const char* key : allowed) known = known || Folded(line.key) == key;
    if (!known)
      status = Refuse(reason, line.number, "key " + line.key + " is not one [" + section->name + "] may hold here");
    else if (line.fields.size() != 1)
      status = Refuse(reason, line.number, "key " + line.key + " takes one value");
  }
  return status;
}

Status InfScript::ReadHead(std::string* reason) {
  Section* version = Find("Version");
  Section* strings = Find("CEStrings");
  if (!version || !strings) return Refuse(reason, 1, "no [Version] or no [CEStrings] section");
  Status status = Keys(version, {"signature", "provider", "cesignature"}, reason);
  if (status.ok()) status = Keys(strings, {"appname", "installdir"}, reason);
  if (status.ok()) status = Keys(Find("CEDevice"), {"versionmin", "versionmax"}, reason);
  if (!status.ok()) return status;
  int at = version->number;
  const std::string* signature = One(version->lines, "signature", &at);
  if (!signature || Folded(*signature) != "$windows nt$")
    return Refuse(reason, at, "[Version] needs Signature = \"$Windows NT$\"");
  at = version->number;
  const std::string* ceSignature = One(version->lines, "cesignature", &at);
  if (!ceSignature || Folded(*ceSignature) != "$windows ce$")
    return Refuse(reason, at, "[Version] needs CESignature = \"$Windows CE$\"");
  at = version->number;
  const std::string* provider = One(version->lines, "provider", &at);
  if (!provider || provider->empty() || provider->size() > CabControlFile::kMaxName ||
      provider->find('%') != std::string::npos)
    return Refuse(reason, at, "[Version] needs a Provider name of at most 255 characters");
  provider_ = *provider;
  at = strings->number;
  const std::string* appName = One(strings->lines, "appname", &at);
  if (!appName || CabControlFile::NameRefusal(*appName) || appName->find('%') != std::string::npos)
    return Refuse(reason, at, "[CEStrings] needs an AppName that can name a folder on the device");
  appName_ = *appName;
  at = strings->number;
  const std::string* installDir = One(strings->lines, "installdir", &at);
  std::vector<std::string> parts;
  if (!installDir) return Refuse(reason, at, "[CEStrings] needs an InstallDir");
  if (status = Folder(*installDir, at, &parts, reason); !status.ok()) return status;
  for (const std::string& part : parts) installDir_ += (installDir_.empty() ? "" : "\\") + part;
  for (const char* key : {"versionmin", "versionmax"}) {
    Section* device = Find("CEDevice");
    const std::string* text = device ? One(device->lines, key, &at) : nullptr;
    if (text && !Version(*text, key[8] == 'i' ? versionMin_ : versionMax_))
      return Refuse(reason, at, "a version is <major>.<minor>, each at most 65535");
  }
  return Status::Ok();
}

Status InfScript::ReadDisks(std::string* reason) {
  Section* names = Find("SourceDisksNames");
  Section* files = Find("SourceDisksFiles");
  if (!names || !files) return Refuse(reason, 1, "no [SourceDisksNames] or no [SourceDisksFiles]");
  std::map<uint32_t, std::string> disks;
  Status status = Fields(*names, true, reason);
  for (const Line& line : names->lines) {
    uint32_t id = 0;
    if (!status.ok()) return status;
    if (!Number(line.key, &id) || id == 0 || id > 0xFFFF || line.fields.size() > 4 ||
        !line.fields[0].empty() || (line.fields.size() > 2 && !line.fields[2].empty()))
      return Refuse(reason, line.number, "expected <disk number> = ,\"<description>\",,[<folder>]");
    std::string folder = line.fields.size() > 3 ? line.fields[3] : "";
    std::string path;
    for (size_t at = 0; !folder.empty() && at <= folder.size();) {
      size_t end = std::min(folder.find('\\', at), folder.size());
      std::string part = folder.substr(at, end - at);
      if (CabControlFile::NameRefusal(part) || part.find('%') != std::string::npos)
        return Refuse(reason, line.number, "a disk's folder is a relative folder of plain names");
      path += part + "/";
      at = end + 1;
    }
    disks[id] = path;
  }
  if (status = Fields(*files, true, reason); !status.ok()) return status;
  for (const Line& line : files->lines) {
    uint32_t id = 0;
    if (CabControlFile::NameRefusal(line.key) || line.key.find('%') != std::string::npos)
      return Refuse(reason, line.number, "source file " + line.key + " is not a plain file name");
    if (line.fields.size() != 1 || !Number(line.fields[0], &id) || !disks.count(id))
      return Refuse(reason, line.number, "expected <source file> = <disk number of [SourceDisksNames]>");
    sourceFiles_.emplace_back(Folded(line.key), disks[id] + line.key);
  }
  return Status::Ok();
}

std::string InfScript::Source(const std::string& name) const {
  for (const auto& [folded, path] : sourceFiles_)
    if (folded == Folded(name)) return path;
  return {};
}

Status InfScript::ReadInstall(std::string* reason) {
  Section* install = Find("DefaultInstall");
  Section* dirs = Find("DestinationDirs");
  if (!install || !dirs) return Refuse(reason, 1, "no [DefaultInstall] or no [DestinationDirs]");
  Status status = Fields(*install, true, reason);
  if (status.ok()) status = Fields(*dirs, true, reason);
  for (const Line& line : install->lines) {
    if (!status.ok()) return status;
    std::string key = Folded(line.key);
    if (key == "cesetupdll") {
      setupSource_ = Source(line.fields[0]);
      if (line.fields.size() != 1 || setupSource_.empty())
        status = Refuse(reason, line.number, "CESetupDLL names no file of [SourceDisksFiles]");
    } else if (key == "copyfiles" || key == "addreg") {
      for (size_t i = 0; status.ok() && i < line.fields.size(); ++i) {
        status = key == "copyfiles" ? ReadCopySection(line.fields[i], line.number, reason)
                                    : ReadRegSection(line.fields[i], line.number, reason);
      }
    } else {
      status = Refuse(reason, line.number, "key " + line.key + " is not one [DefaultInstall] may hold here");
    }
  }
  for (const Line& line : dirs->lines) {
    Section* section = Find(line.key);
    if (status.ok() && Folded(line.key) != "defaultdestdir" && (!section || !section->used))
      status = Refuse(reason, line.number, "[DestinationDirs] names no section of CopyFiles");
  }
  return status;
}

// The folder of copy section `name` from [DestinationDirs].
Status InfScript::Destination(const std::string& name, int line, std::vector<std::string>* folder,
                              std::string* reason) {
  Section* dirs = Find("DestinationDirs");
  const Line* found = nullptr;
  const std::string folded = Folded(name);
  for (const char* key : {folded.c_str(), "defaultdestdir"}) {
    for (const Line& entry : dirs->lines)
      if (!found && Folded(entry.key) == key) found = &entry;
  }
  if (!found) return Refuse(reason, line, "no [DestinationDirs] entry for [" + name + "]");
  if (found->fields.size() != 2 || found->fields[0] != "0")
    return Refuse(reason, found->number, "expected <section> = 0,<folder>");
  return Folder(found->fields[1], found->number, folder, reason);
}

Status InfScript::ReadCopySection(const std::string& name, int line, std::string* reason) {
  Section* section = Find(name);
  if (!section || section->used) return Refuse(reason, line, "[" + name + "] is missing or used twice");
  std::vector<std::string> folder;
  Status status = Fields(*section, false, reason);
  if (status.ok()) status = Destination(name, line, &folder, reason);
  for (const Line& entry : section->lines) {
    if (!status.ok()) return status;
    const auto& f = entry.fields;
    File file{folder, f[0], Source(f.size() > 1 && !f[1].empty() ? f[1] : f[0]), 0};
    if (f.size() > 4 || (f.size() > 2 && !f[2].empty()) ||
        (f.size() > 3 && !Number(f[3], &file.flags)))
      return Refuse(reason, entry.number, "expected \"<installed name>\",\"<source file>\",,<flags>");
    if (const char* why = CabControlFile::NameRefusal(file.name))
      return Refuse(reason, entry.number, std::string("the installed file ") + why);
    if (file.source.empty()) return Refuse(reason, entry.number, "the source file is not in [SourceDisksFiles]");
    if (file.flags & ~CabControlFile::kFileKnownFlags)
      return Refuse(reason, entry.number, "flags that are not understood");
    for (const File& other : files_) {
      if (Folded(CabControlFile::DevicePath(other.folder) + "\\" + other.name) ==
          Folded(CabControlFile::DevicePath(folder) + "\\" + file.name))
        return Refuse(reason, entry.number, "the installed file " + file.name + " is copied twice");
    }
    if (files_.size() >= 998) return Refuse(reason, entry.number, "more than 998 files");
    files_.push_back(file);
  }
  return status;
}

Status InfScript::ReadRegSection(const std::string& name, int line, std::string* reason) {
  Section* section = Find(name);
  if (!section || section->used) return Refuse(reason, line, "[" + name + "] is missing or used twice");
  Status status = Fields(*section, false, reason);
  for (const Line& entry : section->lines) {
    if (!status.ok()) return status;
    const auto& f = entry.fields;
    if (f.size() != 5) return Refuse(reason, entry.number, "expected HKLM,<key>,<name>,<type>,<data>");
    if (Folded(f[0]) != "hklm") return Refuse(reason, entry.number, "only HKLM keys may be written");
    Value value;
    if (status = Expand(f[1], entry.number, false, &value.key, reason); !status.ok()) return status;
    if (status = Expand(f[2], entry.number, false, &value.name, reason); !status.ok()) return status;
    bool keyOk = !value.key.empty() && value.key.size() <= CabControlFile::kMaxPath &&
                 value.key.front() != '\\' && value.key.back() != '\\' &&
                 value.key.find("\\\\") == std::string::npos;
    if (!keyOk || value.name.size() > CabControlFile::kMaxName)
      return Refuse(reason, entry.number, "a key path of names joined by '\\', or a value name, too long or empty");
    if (!Number(f[3], &value.type) ||
        (value.type != CabControlFile::kValueString && value.type != CabControlFile::kValueDword))
      return Refuse(reason, entry.number, "type is 0x00000000 (string) or 0x00010001 (number)");
    if (value.type == CabControlFile::kValueDword && !Number(f[4], &value.number))
      return Refuse(reason, entry.number, "a number is decimal or 0x hexadecimal, at most 32 bits");
    if (value.type == CabControlFile::kValueString) {
      if (status = Expand(f[4], entry.number, false, &value.text, reason); !status.ok()) return status;
      if (value.text.size() > CabControlFile::kMaxText)
        return Refuse(reason, entry.number, "a string value longer than 4096 characters");
    }
    values_.push_back(value);
  }
  return status;
}

// `text` with %AppName% and %InstallDir% replaced; %CEn% is kept (in
// upper case) where a folder is read, refused elsewhere.
Status InfScript::Expand(const std::string& text, int line, bool folder, std::string* out,
                         std::string* reason) const {
  out->clear();
  for (size_t at = 0; at < text.size();) {
    size_t open = text.find('%', at);
    *out += text.substr(at, open == std::string::npos ? std::string::npos : open - at);
    if (open == std::string::npos) break;
    size_t close = text.find('%', open + 1);
    if (close == std::string::npos) return Refuse(reason, line, "a '%' without its closing '%'");
    std::string name = text.substr(open, close - open + 1);
    std::string folded = Folded(name);
    if (folded == "%appname%" && !appName_.empty()) {
      *out += appName_;
    } else if (folded == "%installdir%" && !installDir_.empty()) {
      *out += installDir_;
    } else if (folder && CabControlFile::MacroFolder(name)) {
      for (char c : folded) *out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    } else {
      return Refuse(reason, line, name + " is not a string or folder this script knows here");
    }
    at = close + 1;
  }
  return Status::Ok();
}

// A folder: a %CEn% macro (or %InstallDir%, which holds one) followed by
// folder names, kept as its parts.
Status InfScript::Folder(const std::string& text, int line, std::vector<std::string>* out,
                         std::string* reason) const {
  std::string expanded;
  Status status = Expand(text, line, true, &expanded, reason);
  if (!status.ok()) return status;
  out->clear();
  for (size_t at = 0; at <= expanded.size();) {
    size_t end = std::min(expanded.find('\\', at), expanded.size());
    out->push_back(expanded.substr(at, end - at));
    at = end + 1;
  }
  if (!CabControlFile::MacroFolder((*out)[0]))
    return Refuse(reason, line, "a folder starts with %CEn% or %InstallDir%");
  size_t length = 0;
  for (size_t i = 1; i < out->size(); ++i) {
    const std::string& part = (*out)[i];
    if (const char* why = CabControlFile::NameRefusal(part))
      return Refuse(reason, line, std::string("the folder ") + why);
    if (part.find('%') != std::string::npos) return Refuse(reason, line, "a folder macro inside a folder");
    length += part.size() + 1;
  }
  if (length > CabControlFile::kMaxPath) return Refuse(reason, line, "a folder path that is too long");
  return Status::Ok();
}

}  // namespace handheld::detail
