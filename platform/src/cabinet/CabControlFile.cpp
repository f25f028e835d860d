#include "CabControlFile.h"

#include <map>
#include <set>

namespace handheld::detail {

namespace {

const char* const kSectionNames[6] = {"STRINGS", "DIRS", "FILES", "REGHIVES", "REGKEYS", "LINKS"};
enum Section { kStrings, kDirs, kFiles, kHives, kKeys, kLinks };

struct MacroEntry {
  const char* macro;
  const char* folder;
};
const MacroEntry kMacros[] = {
    {"%CE1%", "\\Program Files"},
    {"%CE2%", "\\Windows"},
    {"%CE4%", "\\Windows\\StartUp"},
    {"%CE5%", "\\My Documents"},
    {"%CE11%", "\\Windows\\Start Menu\\Programs"},
    {"%CE14%", "\\Windows\\Start Menu\\Games"},
    {"%CE15%", "\\Windows\\Fonts"},
    {"%CE17%", "\\Windows\\Start Menu"},
};

bool SameFolded(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return i == a.size() && b[i] == '\0';
}

bool Printable(const std::string& text) {
  for (char c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

Status Fail(std::string* reason, const std::string& text) {
  *reason = text;
  return CabControlFile::kInvalidData;
}

// Bounded little-endian reads over [at, end) of the control file.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Seek(size_t offset) {
    if (offset > size_) return false;
    at_ = offset;
    end_ = size_;
    return true;
  }
  // Limits reading to the next `length` bytes; false when they are not there.
  bool Limit(size_t length) {
    if (length > end_ - at_) return false;
    end_ = at_ + length;
    return true;
  }
  void Unlimit() { end_ = size_; }
  size_t left() const { return end_ - at_; }
  size_t at() const { return at_; }
  bool U16(uint16_t* value) {
    if (left() < 2) return false;
    *value = static_cast<uint16_t>(data_[at_] | data_[at_ + 1] << 8);
    at_ += 2;
    return true;
  }
  bool U32(uint32_t* value) {
    if (left() < 4) return false;
    *value = static_cast<uint32_t>(data_[at_]) | static_cast<uint32_t>(data_[at_ + 1]) << 8 |
             static_cast<uint32_t>(data_[at_ + 2]) << 16 | static_cast<uint32_t>(data_[at_ + 3]) << 24;
    at_ += 4;
    return true;
  }
  // A NUL-terminated printable text taking exactly `length` bytes.
  const char* Text(size_t length, size_t maxLength, std::string* text) {
    if (length == 0) return "has no room for its terminator";
    if (length > left()) return "runs past the end of the file";
    if (data_[at_ + length - 1] != 0) return "has no terminator";
    text->assign(reinterpret_cast<const char*>(data_ + at_), length - 1);
    at_ += length;
    if (text->size() > maxLength) return "is too long";
    if (!Printable(*text)) return "holds a character that is not printable ASCII";
    return nullptr;
  }
  // A NUL-terminated printable text ending somewhere in what is left.
  const char* Terminated(size_t maxLength, std::string* text) {
    size_t length = 0;
    while (length < left() && data_[at_ + length] != 0) ++length;
    if (length == left()) return "has no terminator";
    return Text(length + 1, maxLength, text);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  size_t end_ = 0;
};

struct Header {
  uint16_t counts[6] = {};
  uint32_t offsets[6] = {};
  uint16_t textOffset[3] = {}, textLength[3] = {};  // APPNAME, PROVIDER, UNSUPPORTED
};

// The state of one Read: the strings seen and the ids taken so far.
struct Reader {
  Cursor cursor;
  CabControlFile::Contents* contents;
  std::string* reason;
  std::map<uint16_t, std::string> strings;
  std::set<uint16_t> directoryIds, fileIds, hiveIds, valueIds, linkIds;
};

// A list of string ids ending with 0 that fills the rest of an entry;
// `keyParts` applies the registry's rules instead of the file system's.
const char* IdList(Reader& r, bool keyParts, std::vector<std::string>* parts) {
  parts->clear();
  size_t total = 0;
  for (;;) {
    uint16_t id = 0;
    if (!r.cursor.U16(&id)) return "has no 0 ending its list of strings";
    if (id == 0) break;
    auto found = r.strings.find(id);
    if (found == r.strings.end()) return "names a string id that is not in STRINGS";
    const std::string& part = found->second;
    if (keyParts) {
      if (part.empty() || part.find('\\') != std::string::npos) return "has an empty key name or one with a '\\'";
    } else if (parts->empty() && CabControlFile::MacroFolder(part) != nullptr) {
      // A folder macro may open a path.
    } else if (parts->empty() && part[0] == '%') {
      return "starts with a folder macro that names no folder";
    } else if (const char* why = CabControlFile::NameRefusal(part)) {
      return why;
    }
    total += part.size() + 1;
    parts->push_back(part);
  }
  if (parts->empty()) return "has an empty list of strings";
  if (r.cursor.left() != 0) return "holds bytes after the 0 ending its list";
  if (total > CabControlFile::kMaxPath) return "makes a path that is too long";
  return nullptr;
}

// An IdList of exactly `length` bytes.
const char* LimitedIdList(Reader& r, uint16_t length, bool keyParts, std::vector<std::string>* parts) {
  if (!r.cursor.Limit(length)) return "runs past the end of the file";
  const char* why = IdList(r, keyParts, parts);
  r.cursor.Unlimit();
  return why;
}

bool NewId(std::set<uint16_t>* ids, uint16_t id) { return id != 0 && ids->insert(id).second; }

const char* StringEntry(Reader& r) {
  uint16_t id = 0, length = 0;
  if (!r.cursor.U16(&id) || !r.cursor.U16(&length)) return "is cut short";
  if (id == 0 || r.strings.count(id)) return "has an id that is 0 or taken";
  std::string text;
  if (const char* why = r.cursor.Text(length, CabControlFile::kMaxName, &text)) return why;
  r.strings[id] = text;
  return nullptr;
}

const char* DirectoryEntry(Reader& r) {
  CabControlFile::Directory directory;
  uint16_t length = 0;
  if (!r.cursor.U16(&directory.id) || !r.cursor.U16(&length)) return "is cut short";
  if (!NewId(&r.directoryIds, directory.id)) return "has an id that is 0 or taken";
  if (const char* why = LimitedIdList(r, length, false, &directory.parts)) return why;
  r.contents->directories.push_back(directory);
  return nullptr;
}

const char* FileEntry(Reader& r) {
  CabControlFile::File file;
  uint16_t unknown = 0, length = 0;
  if (!r.cursor.U16(&file.id) || !r.cursor.U16(&file.directory) || !r.cursor.U16(&unknown) ||
      !r.cursor.U32(&file.flags) || !r.cursor.U16(&length))
    return "is cut short";
  if (file.id == 0 || file.id > 998 || !NewId(&r.fileIds, file.id))
    return "has a file id that is not 1-998 or is taken";
  if (!r.directoryIds.count(file.directory)) return "names a directory that is not in DIRS";
  if (file.flags & ~CabControlFile::kFileKnownFlags) return "has flags that are not understood";
  if (const char* why = r.cursor.Text(length, CabControlFile::kMaxName, &file.name)) return why;
  if (const char* why = CabControlFile::NameRefusal(file.name)) return why;
  r.contents->files.push_back(file);
  return nullptr;
}

const char* HiveEntry(Reader& r) {
  CabControlFile::Hive hive;
  uint16_t unknown = 0, length = 0;
  if (!r.cursor.U16(&hive.id) || !r.cursor.U16(&hive.root) || !r.cursor.U16(&unknown) ||
      !r.cursor.U16(&length))
    return "is cut short";
  if (!NewId(&r.hiveIds, hive.id)) return "has an id that is 0 or taken";
  if (hive.root != CabControlFile::kRootLocalMachine)
    return "has a root other than HKEY_LOCAL_MACHINE, the only one a package may write";
  if (const char* why = LimitedIdList(r, length, true, &hive.parts)) return why;
  r.contents->hives.push_back(hive);
  return nullptr;
}

// A value's name and data, filling exactly the entry's length.
const char* ValueData(Reader& r, CabControlFile::Value* value) {
  if (const char* why = r.cursor.Terminated(CabControlFile::kMaxName, &value->name))
    return why;
  uint32_t type = value->type & ~CabControlFile::kValueKeepExisting;
  if (type == CabControlFile::kValueDword) {
    if (r.cursor.left() != 4 || !r.cursor.U32(&value->number)) return "has a number that is not 4 bytes";
    return nullptr;
  }
  if (type != CabControlFile::kValueString) return "has a type other than string or 32-bit number";
  if (const char* why = r.cursor.Terminated(CabControlFile::kMaxText, &value->text)) return why;
  if (r.cursor.left() != 0) return "holds bytes after its string";
  return nullptr;
}

const char* ValueEntry(Reader& r) {
  CabControlFile::Value value;
  uint16_t substitute = 0, length = 0;
  if (!r.cursor.U16(&value.id) || !r.cursor.U16(&value.hive) || !r.cursor.U16(&substitute) ||
      !r.cursor.U32(&value.type) || !r.cursor.U16(&length))
    return "is cut short";
  if (!NewId(&r.valueIds, value.id)) return "has an id that is 0 or taken";
  if (!r.hiveIds.count(value.hive)) return "names a registry hive that is not in REGHIVES";
  if (substitute > 1) return "has a substitution flag other than 0 or 1";
  value.substitute = substitute == 1;
  if (!r.cursor.Limit(length)) return "runs past the end of the file";
  const char* why = ValueData(r, &value);
  r.cursor.Unlimit();
  if (why) return why;
  r.contents->values.push_back(value);
  return nullptr;
}

const char* LinkEntry(Reader& r) {
  CabControlFile::Link link;
  uint16_t unknown = 0, length = 0;
  if (!r.cursor.U16(&link.id) || !r.cursor.U16(&unknown) || !r.cursor.U16(&link.base) ||
      !r.cursor.U16(&link.target) || !r.cursor.U16(&link.kind) || !r.cursor.U16(&length))
    return "is cut short";
  if (!NewId(&r.linkIds, link.id)) return "has an id that is 0 or taken";
  if (link.base > 17 ||
      (link.base != 0 && CabControlFile::MacroFolder("%CE" + std::to_string(link.base) + "%") == nullptr))
    return "has a base folder that names no folder";
  if (link.kind > 1) return "has a target kind other than directory or file";
  if (link.kind == 1 ? !r.fileIds.count(link.target)
                     : link.target != 0 && !r.directoryIds.count(link.target))
    return "names a target that is not in FILES or DIRS";
  if (const char* why = LimitedIdList(r, length, false, &link.parts)) return why;
  r.contents->links.push_back(link);
  return nullptr;
}

const char* (*const kEntryReaders[6])(Reader&) = {StringEntry, DirectoryEntry, FileEntry,
                                                   HiveEntry,   ValueEntry,     LinkEntry};

Status ReadHeader(Reader& r, Header* header) {
  Cursor& c = r.cursor;
  CabControlFile::Contents& out = *r.contents;
  uint32_t signature = 0, unknown = 0, length = 0;
  c.Seek(0);
  if (c.left() < CabControlFile::kHeaderSize)
    return Fail(r.reason, "control file cut short: " + std::to_string(c.left()) +
                              " bytes, less than its 100-byte header");
  if (c.left() > CabControlFile::kMaxSize) return Fail(r.reason, "control file larger than 1 MiB");
  (void)(c.U32(&signature) && c.U32(&unknown) && c.U32(&length) && c.U32(&unknown) &&
         c.U32(&unknown) && c.U32(&out.processor) && c.U32(&out.versionMin[0]) &&
         c.U32(&out.versionMin[1]) && c.U32(&out.versionMax[0]) && c.U32(&out.versionMax[1]) &&
         c.U32(&out.buildMin) && c.U32(&out.buildMax));
  if (signature != 0x4543534D) return Fail(r.reason, "control file without the signature MSCE");
  if (length != c.left() + c.at())
    return Fail(r.reason, "control file cut short or padded: its header says " +
                              std::to_string(length) + " bytes, it has " +
                              std::to_string(c.left() + c.at()));
  for (uint16_t& count : header->counts) (void)c.U16(&count);
  for (uint32_t& offset : header->offsets) (void)c.U32(&offset);
  for (int i = 0; i < 3; ++i) (void)(c.U16(&header->textOffset[i]) && c.U16(&header->textLength[i]));
  return Status::Ok();
}

// APPNAME, PROVIDER and the UNSUPPORTED list, where the header puts them.
Status ReadNames(Reader& r, const Header& header) {
  const char* const names[3] = {"application name", "provider name", "unsupported-platform list"};
  std::string* texts[2] = {&r.contents->appName, &r.contents->provider};
  for (int i = 0; i < 3; ++i) {
    Cursor& c = r.cursor;
    if (i == 2 && header.textLength[i] == 0) break;
    const char* why = nullptr;
    if (!c.Seek(header.textOffset[i]) || !c.Limit(header.textLength[i])) {
      why = "runs past the end of the file";
    } else if (i < 2) {
      why = c.Text(header.textLength[i], CabControlFile::kMaxName, texts[i]);
      if (!why && texts[i]->empty()) why = "is empty";
    } else {
      for (std::string name; !why; r.contents->unsupported.push_back(name)) {
        why = c.Terminated(CabControlFile::kMaxName, &name);
        if (!why && name.empty()) break;
      }
      if (!why && c.left() != 0) why = "holds bytes after its empty last name";
    }
    if (why) return Fail(r.reason, std::string("control file's ") + names[i] + " " + why);
  }
  return Status::Ok();
}

Status ReadSections(Reader& r, const Header& header) {
  for (int s = kStrings; s <= kLinks; ++s) {
    if (header.counts[s] == 0) continue;
    if (!r.cursor.Seek(header.offsets[s]))
      return Fail(r.reason, std::string(kSectionNames[s]) + " starts past the end of the file");
    for (unsigned n = 0; n < header.counts[s]; ++n) {
      if (const char* why = kEntryReaders[s](r))
        return Fail(r.reason, std::string(kSectionNames[s]) + " entry " + std::to_string(n + 1) +
                                  " of " + std::to_string(header.counts[s]) + " " + why);
    }
  }
  return Status::Ok();
}

// Little-endian writes, and the string ids of path parts.
class Writer {
 public:
  explicit Writer(std::vector<uint8_t>* out) : out_(*out) {}
  void U16(uint16_t value) {
    out_.push_back(static_cast<uint8_t>(value));
    out_.push_back(static_cast<uint8_t>(value >> 8));
  }
  void U32(uint32_t value) {
    U16(static_cast<uint16_t>(value));
    U16(static_cast<uint16_t>(value >> 16));
  }
  void Text(const std::string& text) {
    out_.insert(out_.end(), text.begin(), text.end());
    out_.push_back(0);
  }
  void Put16(size_t at, size_t value) {
    out_[at] = static_cast<uint8_t>(value);
    out_[at + 1] = static_cast<uint8_t>(value >> 8);
  }
  void Put32(size_t at, size_t value) {
    Put16(at, value & 0xFFFF);
    Put16(at + 2, (value >> 16) & 0xFFFF);
  }
  size_t size() const { return out_.size(); }
  // The id of `text` in STRINGS, added when new.
  uint16_t StringId(const std::string& text) {
    auto [found, added] = ids_.try_emplace(text, static_cast<uint16_t>(ids_.size() + 1));
    if (added) order_.push_back(text);
    return found->second;
  }
  const std::vector<std::string>& strings() const { return order_; }
  // A length and a list of string ids ending with 0.
  void IdList(const std::vector<std::string>& parts) {
    U16(static_cast<uint16_t>(2 * parts.size() + 2));
    for (const std::string& part : parts) U16(StringId(part));
    U16(0);
  }

 private:
  std::vector<uint8_t>& out_;
  std::map<std::string, uint16_t> ids_;
  std::vector<std::string> order_;
};

// Every section but STRINGS, which needs them all first: written to a
// scratch buffer; `offsets` are the sections' offsets in it.
void WriteTables(const CabControlFile::Contents& in, Writer& w, std::vector<uint8_t>* tables,
                 uint32_t offsets[6]) {
  const size_t base = 0;
  Writer t(tables);
  offsets[kDirs] = static_cast<uint32_t>(base + t.size());
  for (const auto& d : in.directories) {
    t.U16(d.id);
    for (const auto& part : d.parts) w.StringId(part);
    t.IdList(d.parts);
  }
  offsets[kFiles] = static_cast<uint32_t>(base + t.size());
  for (const auto& f : in.files) {
    t.U16(f.id), t.U16(f.directory), t.U16(f.id), t.U32(f.flags);
    t.U16(static_cast<uint16_t>(f.name.size() + 1)), t.Text(f.name);
  }
  offsets[kHives] = static_cast<uint32_t>(base + t.size());
  for (const auto& h : in.hives) {
    t.U16(h.id), t.U16(h.root), t.U16(0);
    for (const auto& part : h.parts) w.StringId(part);
    t.IdList(h.parts);
  }
  offsets[kKeys] = static_cast<uint32_t>(base + t.size());
  for (const auto& v : in.values) {
    bool number = (v.type & ~CabControlFile::kValueKeepExisting) == CabControlFile::kValueDword;
    t.U16(v.id), t.U16(v.hive), t.U16(v.substitute ? 1 : 0), t.U32(v.type);
    t.U16(static_cast<uint16_t>(v.name.size() + 1 + (number ? 4 : v.text.size() + 1)));
    t.Text(v.name);
    if (number) t.U32(v.number);
    else t.Text(v.text);
  }
  offsets[kLinks] = static_cast<uint32_t>(base + t.size());
  for (const auto& l : in.links) {
    t.U16(l.id), t.U16(0), t.U16(l.base), t.U16(l.target), t.U16(l.kind);
    for (const auto& part : l.parts) w.StringId(part);
    t.IdList(l.parts);
  }
}

// What the 16-bit fields of the format cannot hold.
const char* TooBig(const CabControlFile::Contents& in) {
  const size_t counts[] = {in.directories.size(), in.files.size(), in.hives.size(),
                           in.values.size(), in.links.size()};
  for (size_t count : counts)
    if (count > 0xFFFF) return "more than 65535 entries in a section";
  size_t names = in.appName.size() + in.provider.size() + 2;
  for (const auto& name : in.unsupported) names += name.size() + 1;
  if (CabControlFile::kHeaderSize + names + 1 > 0xFFFF) return "names too long for the header";
  for (const auto& v : in.values)
    if (v.name.size() > CabControlFile::kMaxName || v.text.size() > CabControlFile::kMaxText)
      return "a registry value too long";
  for (const auto& f : in.files)
    if (f.name.size() > CabControlFile::kMaxName) return "a file name too long";
  for (const auto& l : in.links)
    if (l.parts.size() > 0x7FFE) return "a shortcut path too long";
  return nullptr;
}

}  // namespace

Status CabControlFile::Write(const Contents& in, std::vector<uint8_t>* out, std::string* reason) {
  out->clear();
  if (const char* why = TooBig(in)) return Fail(reason, std::string("cannot write ") + why);
  Writer w(out);
  out->resize(kHeaderSize);
  w.Put32(0, 0x4543534D);
  w.Put32(16, 1);
  const uint32_t fields[] = {in.processor, in.versionMin[0], in.versionMin[1], in.versionMax[0],
                             in.versionMax[1], in.buildMin, in.buildMax};
  for (size_t i = 0; i < 7; ++i) w.Put32(20 + 4 * i, fields[i]);
  w.Put16(84, w.size()), w.Put16(86, in.appName.size() + 1), w.Text(in.appName);
  w.Put16(88, w.size()), w.Put16(90, in.provider.size() + 1), w.Text(in.provider);
  if (!in.unsupported.empty()) {
    size_t start = w.size();
    for (const auto& name : in.unsupported) w.Text(name);
    w.Text("");
    w.Put16(92, start), w.Put16(94, w.size() - start);
  }
  // STRINGS goes next; the tables after it are laid out first to learn
  // which strings there are.
  std::vector<uint8_t> tables;
  uint32_t offsets[6] = {};
  WriteTables(in, w, &tables, offsets);
  offsets[kStrings] = static_cast<uint32_t>(w.size());
  if (w.strings().size() > 0xFFFF) return Fail(reason, "cannot write more than 65535 strings");
  for (size_t i = 0; i < w.strings().size(); ++i) {
    const std::string& text = w.strings()[i];
    if (text.size() > kMaxName) return Fail(reason, "cannot write a path part that long");
    w.U16(static_cast<uint16_t>(i + 1)), w.U16(static_cast<uint16_t>(text.size() + 1)), w.Text(text);
  }
  size_t base = w.size();
  out->insert(out->end(), tables.begin(), tables.end());
  const size_t counts[6] = {w.strings().size(), in.directories.size(), in.files.size(),
                            in.hives.size(), in.values.size(), in.links.size()};
  for (int s = kStrings; s <= kLinks; ++s) {
    w.Put16(48 + 2 * s, counts[s]);
    w.Put32(60 + 4 * s, s == kStrings ? offsets[s] : offsets[s] + base);
  }
  w.Put32(8, w.size());
  Contents check;
  std::string why;
  if (!Read(out->data(), out->size(), &check, &why).ok()) {
    out->clear();
    return Fail(reason, "cannot write what could not be read back: " + why);
  }
  return Status::Ok();
}


Status CabControlFile::Read(const uint8_t* data, size_t size, Contents* contents,
                            std::string* reason) {
  *contents = Contents{};
  Reader r{Cursor(data, size), contents, reason, {}, {}, {}, {}, {}, {}};
  Header header;
  Status status = ReadHeader(r, &header);
  if (status.ok()) status = ReadNames(r, header);
  if (status.ok()) status = ReadSections(r, header);
  if (!status.ok()) *contents = Contents{};
  return status;
}

const char* CabControlFile::MacroFolder(const std::string& macro) {
  for (const MacroEntry& entry : kMacros)
    if (SameFolded(macro, entry.macro)) return entry.folder;
  return nullptr;
}

std::string CabControlFile::DevicePath(const std::vector<std::string>& parts) {
  std::string path;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i == 0 && !parts[0].empty() && parts[0][0] == '%') {
      const char* folder = MacroFolder(parts[0]);
      if (folder == nullptr) return {};
      path = folder;
    } else {
      path += "\\" + parts[i];
    }
  }
  return path;
}

const char* CabControlFile::NameRefusal(const std::string& name) {
  if (name.empty()) return "has an empty name";
  if (name == "." || name == "..") return "names the folder itself or the one above it";
  if (name.size() > kMaxName) return "has a name that is too long";
  for (char c : name) {
    if (c < 0x20 || c > 0x7E) return "has a name with a character that is not printable ASCII";
    if (std::string("\\/:*?\"<>|").find(c) != std::string::npos)
      return "has a name with one of \\ / : * ? \" < > | in it";
  }
  if (name.back() == '.' || name.back() == ' ') return "has a name ending in a dot or a blank";
  return nullptr;
}

}  // namespace handheld::detail
