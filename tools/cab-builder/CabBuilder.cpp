#include "CabBuilder.h"

#include <fcntl.h>
#include <libgcab.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <fstream>

using handheld::detail::CabControlFile;
using handheld::detail::InfScript;

namespace {

// Finds the id of `value` in `table`, adding it as the next id when new.
template <class Entry, class Key>
uint16_t IdOf(std::vector<Entry>* table, const Key& key) {
  for (const Entry& entry : *table)
    if (entry.parts == key) return entry.id;
  Entry entry;
  entry.id = static_cast<uint16_t>(table->size() + 1);
  entry.parts = key;
  table->push_back(entry);
  return entry.id;
}

std::vector<std::string> KeyParts(const std::string& key) {
  std::vector<std::string> parts;
  for (size_t at = 0; at <= key.size();) {
    size_t end = std::min(key.find('\\', at), key.size());
    parts.push_back(key.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

// Every byte of `data` lands in `path`, or false.
bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

CabControlFile::Contents CabBuilder::Control(const InfScript& inf) {
  CabControlFile::Contents control;
  control.appName = inf.appName();
  control.provider = inf.provider();
  for (int i = 0; i < 2; ++i) {
    control.versionMin[i] = inf.versionMin()[i];
    control.versionMax[i] = inf.versionMax()[i];
  }
  uint16_t number = 0;
  for (const InfScript::File& file : inf.files()) {
    CabControlFile::File entry;
    entry.id = ++number;
    entry.directory = IdOf(&control.directories, file.folder);
    entry.flags = file.flags;
    entry.name = file.name;
    control.files.push_back(entry);
  }
  for (const InfScript::Value& value : inf.values()) {
    CabControlFile::Value entry;
    entry.id = static_cast<uint16_t>(control.values.size() + 1);
    entry.hive = IdOf(&control.hives, KeyParts(value.key));
    entry.type = value.type;
    entry.name = value.name;
    entry.text = value.text;
    entry.number = value.number;
    control.values.push_back(entry);
  }
  return control;
}

std::string CabBuilder::MemberName(const std::string& realName, int number) {
  std::string base = realName.substr(0, realName.rfind('.'));
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) c = '_';
  }
  if (base.size() > 8) {
    base.resize(6);
    base += "~" + std::to_string(std::min(++cuts_[base], 9));
  }
  base.insert(0, 8 - base.size(), '0');
  char digits[8];
  std::snprintf(digits, sizeof digits, ".%03d", number % 1000);
  return base + digits;
}

bool CabBuilder::AddFile(const std::string& path, const std::string& realName, int number,
                         std::string* reason) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *reason = "cannot read " + path;
    return false;
  }
  Member member{MemberName(realName, number), std::vector<uint8_t>(kMaxMember + 1)};
  in.read(reinterpret_cast<char*>(member.bytes.data()), static_cast<std::streamsize>(kMaxMember + 1));
  if (static_cast<size_t>(in.gcount()) > kMaxMember) {
    *reason = path + " is larger than 64 MiB";
    return false;
  }
  member.bytes.resize(static_cast<size_t>(in.gcount()));
  members_.push_back(std::move(member));
  return true;
}

bool CabBuilder::Build(const std::string& script, const std::string& source,
                       const std::string& output, std::string* reason) {
  InfScript inf;
  if (!inf.Load(script, reason).ok()) return false;
  CabControlFile::Contents control = Control(inf);
  Member head{MemberName(inf.appName(), 0), {}};
  if (!CabControlFile::Write(control, &head.bytes, reason).ok()) return false;
  members_.assign(1, head);
  if (!inf.setupSource().empty() &&
      !AddFile(source + "/" + inf.setupSource(), inf.setupSource(), 999, reason))
    return false;
  for (size_t i = inf.files().size(); i > 0; --i) {
    const InfScript::File& file = inf.files()[i - 1];
    if (!AddFile(source + "/" + file.source, file.name, static_cast<int>(i), reason)) return false;
  }
  return Write(output, reason);
}

bool CabBuilder::Write(const std::string& output, std::string* reason) const {
  GCabCabinet* cabinet = gcab_cabinet_new();
  GCabFolder* folder = gcab_folder_new(GCAB_COMPRESSION_NONE);
  GDateTime* when = g_date_time_new_utc(2000, 1, 1, 0, 0, 0);
  GError* error = nullptr;
  bool ok = true;
  for (const Member& member : members_) {
    GBytes* bytes = g_bytes_new(member.bytes.data(), member.bytes.size());
    GCabFile* file = gcab_file_new_with_bytes(member.name.c_str(), bytes);
    gcab_file_set_date_time(file, when);
    gcab_file_set_attributes(file, GCAB_FILE_ATTRIBUTE_ARCH);
    ok = ok && gcab_folder_add_file(folder, file, FALSE, nullptr, &error);
    g_object_unref(file);
    g_bytes_unref(bytes);
  }
  ok = ok && gcab_cabinet_add_folder(cabinet, folder, &error);
  GOutputStream* stream = g_memory_output_stream_new_resizable();
  ok = ok && gcab_cabinet_write_simple(cabinet, stream, nullptr, nullptr, nullptr, &error) &&
       g_output_stream_close(stream, nullptr, &error);
  if (!ok) *reason = std::string("cannot write the cabinet: ") + (error ? error->message : "?");
  // Written beside the cabinet and renamed over it, so that a failure
  // leaves the old one whole.
  std::string temporary = output + ".XXXXXX";
  int fd = ok ? mkstemp(temporary.data()) : -1;
  if (ok && fd < 0) *reason = "cannot create a file beside " + output;
  ok = ok && fd >= 0;
  if (ok) {
    auto* data = static_cast<const uint8_t*>(
        g_memory_output_stream_get_data(G_MEMORY_OUTPUT_STREAM(stream)));
    size_t size = g_memory_output_stream_get_data_size(G_MEMORY_OUTPUT_STREAM(stream));
    ok = WriteAll(fd, data, size) && fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok && std::rename(temporary.c_str(), output.c_str()) == 0;
    if (!ok) {
      *reason = "cannot write " + output;
      std::remove(temporary.c_str());
    }
  }
  if (error) g_error_free(error);
  g_object_unref(stream);
  g_date_time_unref(when);
  g_object_unref(folder);
  g_object_unref(cabinet);
  return ok;
}
