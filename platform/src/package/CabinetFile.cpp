#include "CabinetFile.h"

#include <fcntl.h>
#include <libgcab.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace handheld::detail {

namespace {

// The whole file, read without waiting on anything that is not a regular
// file (a FIFO would wait for a writer for ever).
bool ReadBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* reason) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  if (!ok || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) > CabinetFile::kMaxSize) {
    *reason = !ok                    ? std::string(std::strerror(errno))
              : S_ISDIR(st.st_mode)  ? std::string("it is a folder")
              : !S_ISREG(st.st_mode) ? std::string("it is not a regular file")
                                     : "it is larger than " +
                                           std::to_string(CabinetFile::kMaxSize >> 20) + " MB";
    close(fd);
    return false;
  }
  bytes->resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (ok && done < bytes->size()) {
    ssize_t n = read(fd, bytes->data() + done, bytes->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;  // it shrank meanwhile
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  if (!ok) *reason = std::strerror(errno);
  close(fd);
  bytes->resize(done);
  return ok;
}

// The cabinet's files, folder by folder, as libgcab lists them.
std::vector<GCabFile*> Files(GCabCabinet* cabinet, std::vector<GCabFolder*>* folders) {
  std::vector<GCabFile*> files;
  GPtrArray* list = gcab_cabinet_get_folders(cabinet);
  for (guint i = 0; list != nullptr && i < list->len; ++i) {
    auto* folder = static_cast<GCabFolder*>(g_ptr_array_index(list, i));
    folders->push_back(folder);
    GSList* members = gcab_folder_get_files(folder);
    for (GSList* at = members; at != nullptr; at = at->next)
      files.push_back(static_cast<GCabFile*>(at->data));
    g_slist_free(members);
  }
  return files;
}

}  // namespace

bool CabinetFile::Load(const std::string& path, std::string* reason) {
  members_.clear();
  std::vector<uint8_t> bytes;
  std::string why;
  const bool ok = ReadBytes(path, &bytes, &why) && Unpack(bytes, &why);
  if (!ok) {
    members_.clear();
    *reason = "cannot read the cabinet " + path + ": " + why;
  }
  return ok;
}

bool CabinetFile::Unpack(const std::vector<uint8_t>& bytes, std::string* reason) {
  GInputStream* stream = g_memory_input_stream_new_from_data(bytes.data(),
                                                             static_cast<gssize>(bytes.size()), nullptr);
  GCabCabinet* cabinet = gcab_cabinet_new();
  GError* error = nullptr;
  bool ok = gcab_cabinet_load(cabinet, stream, nullptr, &error);
  if (!ok) *reason = std::string("it is no cabinet or is cut short: ") + error->message;
  std::vector<GCabFolder*> folders;
  std::vector<GCabFile*> files = ok ? Files(cabinet, &folders) : std::vector<GCabFile*>{};
  for (GCabFolder* folder : folders) {
    const int compression = gcab_folder_get_comptype(folder) & GCAB_COMPRESSION_MASK;
    if (ok && compression != GCAB_COMPRESSION_NONE && compression != GCAB_COMPRESSION_MSZIP) {
      *reason = "it is compressed in a way other than MSZIP (" + std::to_string(compression) + ")";
      ok = false;
    }
  }
  // What the headers declare, before anything is unpacked.
  size_t total = 0;
  for (GCabFile* file : files) total += gcab_file_get_size(file);
  if (ok && (files.size() > kMaxMembers || total > kMaxSize)) {
    *reason = "it holds " + std::to_string(files.size()) + " members of " +
              std::to_string(total) + " bytes, more than " + std::to_string(kMaxMembers) +
              " members or " + std::to_string(kMaxSize >> 20) + " MB";
    ok = false;
  }
  // Unpacked into memory (no folder given), each member's bytes on its file.
  if (ok && !gcab_cabinet_extract_simple(cabinet, nullptr, nullptr, nullptr, nullptr, &error)) {
    *reason = std::string("it is damaged or cut short: ") + error->message;
    ok = false;
  }
  for (size_t i = 0; ok && i < files.size(); ++i) {
    GBytes* data = gcab_file_get_bytes(files[i]);
    gsize size = 0;
    const auto* start = data ? static_cast<const uint8_t*>(g_bytes_get_data(data, &size)) : nullptr;
    if (size != gcab_file_get_size(files[i])) {
      *reason = "its member " + std::to_string(i + 1) + " unpacked to " + std::to_string(size) +
                " of its " + std::to_string(gcab_file_get_size(files[i])) + " bytes";
      ok = false;
      break;
    }
    const char* name = gcab_file_get_name(files[i]);
    members_.push_back({name ? name : "", std::vector<uint8_t>(start, start + size)});
  }
  if (error) g_error_free(error);
  g_object_unref(cabinet);
  g_object_unref(stream);
  return ok;
}

}  // namespace handheld::detail
