#include "ModuleLoader.h"

#include <dirent.h>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "HandheldPath.h"
#include "InstallLayout.h"
#include "ProcessLifetime.h"
#include "handheld.h"

namespace handheld::detail {

namespace {

using EntryPoint = BOOL (*)(HINSTANCE, DWORD, LPVOID);

std::string Folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// "\Windows\Tessiv.dll" -> "tessiv"; "libFerrix.so" -> "ferrix".
std::string Stem(const std::string& name, bool hostFile) {
  std::string stem = name.substr(name.find_last_of("\\/") + 1);
  if (size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0) stem.resize(dot);
  stem = Folded(stem);
  if (hostFile && stem.size() > 3 && stem.compare(0, 3, "lib") == 0) stem.erase(0, 3);
  return stem;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A file of the handheld's own: a regular file, not a link to one.
bool IsPlainFile(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The entry address named in the library's ELF header, or null.
void* EntryOf(const std::string& path, void* library) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  ElfW(Ehdr) header{};
  bool read = ::read(fd, &header, sizeof(header)) == static_cast<ssize_t>(sizeof(header));
  close(fd);
  link_map* map = nullptr;
  if (!read || header.e_entry == 0 || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map)
    return nullptr;
  return reinterpret_cast<void*>(map->l_addr + header.e_entry);
}

// The library in `folder` named `wanted` (a folded stem): a built library
// ("Ferrix.so") in a host folder, a "*.dll" in a folder of the handheld.
std::string Find(const std::string& folder, const std::string& wanted, bool hostFolder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return {};
  std::string found;
  const std::string extension = hostFolder ? ".so" : ".dll";
  while (dirent* entry = readdir(dir)) {
    std::string file = entry->d_name;
    if (file.size() > extension.size() &&
        Folded(file.substr(file.size() - extension.size())) == extension &&
        Stem(file, hostFolder) == wanted &&
        (hostFolder ? IsFile(folder + "/" + file) : IsPlainFile(folder + "/" + file))) {
      found = folder + "/" + file;
      break;
    }
  }
  closedir(dir);
  return found;
}

// The libraries that the library at `path` was linked against (its
// DT_NEEDED entries), as its dynamic section names them; empty when the
// file is not a library of this host's kind.
std::vector<std::string> NeededLibraries(const std::string& path) {
  std::vector<std::string> names;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return names;
  auto readAt = [fd](void* into, size_t bytes, off_t at) {
    return pread(fd, into, bytes, at) == static_cast<ssize_t>(bytes);
  };
  ElfW(Ehdr) header{};
  std::vector<ElfW(Phdr)> segments;
  std::vector<ElfW(Dyn)> dynamic;
  if (readAt(&header, sizeof header, 0) && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
      header.e_phentsize == sizeof(ElfW(Phdr)) && header.e_phnum < 256) {
    segments.resize(header.e_phnum);
    if (!readAt(segments.data(), segments.size() * sizeof(ElfW(Phdr)), header.e_phoff))
      segments.clear();
  }
  for (const ElfW(Phdr)& segment : segments) {
    if (segment.p_type != PT_DYNAMIC || segment.p_filesz / sizeof(ElfW(Dyn)) > 4096) continue;
    dynamic.resize(segment.p_filesz / sizeof(ElfW(Dyn)));
    if (!readAt(dynamic.data(), dynamic.size() * sizeof(ElfW(Dyn)), segment.p_offset))
      dynamic.clear();
  }
  ElfW(Addr) strtab = 0;
  size_t strsz = 0;
  for (const ElfW(Dyn)& entry : dynamic) {
    if (entry.d_tag == DT_STRTAB) strtab = entry.d_un.d_ptr;
    if (entry.d_tag == DT_STRSZ) strsz = entry.d_un.d_val;
  }
  // The string table's place in the file, from the segment that loads it.
  std::string strings;
  for (const ElfW(Phdr)& segment : segments) {
    if (segment.p_type != PT_LOAD || strtab < segment.p_vaddr ||
        strtab - segment.p_vaddr + strsz > segment.p_filesz || strsz > (1u << 20))
      continue;
    strings.resize(strsz);
    if (!readAt(strings.data(), strsz, segment.p_offset + (strtab - segment.p_vaddr)))
      strings.clear();
    break;
  }
  for (const ElfW(Dyn)& entry : dynamic)
    if (entry.d_tag == DT_NEEDED && entry.d_un.d_val < strings.size())
      names.push_back(strings.c_str() + entry.d_un.d_val);
  close(fd);
  return names;
}

// Modules of the handheld are built as "<Name>.so", without the "lib" of
// the host's own libraries.
bool IsHandheldModule(const std::string& library) {
  return library.size() > 3 && library.compare(library.size() - 3, 3, ".so") == 0 &&
         library.compare(0, 3, "lib") != 0;
}

}  // namespace

class ModuleLoader::Module : public HandleObject {
 public:
  std::string path;
  std::vector<void*> imports;  // the handheld modules it was linked against
  void* library = nullptr;
  EntryPoint entry = nullptr;
  void* handle = nullptr;
  size_t references = 0;
  bool threadCalls = true;
};

ModuleLoader& ModuleLoader::Instance() {
  return ProcessLifetime<ModuleLoader>::Get();
}

void ModuleLoader::SetFolders(std::vector<std::string> folders) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  folders_ = std::move(folders);
  foldersSet_ = true;
}

std::vector<std::string> ModuleLoader::Folders() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (foldersSet_) return folders_;
  std::vector<std::string> folders;
  const char* list = std::getenv("HANDHELD_MODULES");
  std::string text = list && *list ? list : InstallLayout::ModuleFolder();
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find(':', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) folders.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

std::string ModuleLoader::Resolve(const std::u16string& name) {
  // A name without a folder stands in "\Windows". A module is found only in
  // the handheld's "\Windows" (and the folders below it) or the ROM: never
  // elsewhere on the handheld, never a host file by its own path.
  const bool bare = name.find_first_of(u"\\/") == std::u16string::npos;
  const HandheldPath path(bare ? u"\\Windows\\" + name : name);
  if (!path.ok() || path.parts().size() < 2 || !path.IsWithin(u"\\Windows")) return {};
  const std::string wanted = Stem(ToUtf8(path.parts().back()), false);
  const std::string folder = path.host().substr(0, path.host().rfind('/'));
  std::string found = Find(folder, wanted, false);
  if (!found.empty() || path.parts().size() != 2) return found;
  for (const std::string& rom : Folders()) {
    found = Find(rom, wanted, true);
    if (!found.empty()) return found;
  }
  return {};
}

Status ModuleLoader::Load(const std::u16string& name, void** handle) {
  std::string path = Resolve(name);
  if (path.empty()) return ERROR_MOD_NOT_FOUND;
  return LoadFile(path, handle);
}

Status ModuleLoader::LoadFile(const std::string& path, void** handle) {
  if (!IsFile(path)) return ERROR_MOD_NOT_FOUND;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (auto it = loaded_.find(path); it != loaded_.end()) {
    ++it->second->references;
    *handle = it->second->handle;
    return Status::Ok();
  }
  // The handheld modules it imports are found as LoadLibrary finds them
  // (installed copies first) and loaded before it, so the dynamic linker
  // binds it to those, by their names, rather than looking for them itself.
  std::vector<void*> imports;
  auto freeImports = [&] {
    for (auto it = imports.rbegin(); it != imports.rend(); ++it) static_cast<void>(Free(*it));
  };
  for (const std::string& needed : NeededLibraries(path)) {
    if (!IsHandheldModule(needed)) continue;
    void* import = nullptr;
    if (!Load(FromUtf8(needed), &import).ok()) {
      freeImports();
      return ERROR_MOD_NOT_FOUND;
    }
    imports.push_back(import);
  }
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    freeImports();
    return ERROR_BAD_EXE_FORMAT;
  }
  auto module = std::make_shared<Module>();
  module->path = path;
  module->imports = imports;
  module->library = library;
  module->entry = reinterpret_cast<EntryPoint>(EntryOf(path, library));
  module->handle = HandleTable::Add(HandleKind::kInstance, module);
  module->references = 1;
  loaded_[path] = module;
  if (module->entry &&
      !module->entry(static_cast<HINSTANCE>(module->handle), DLL_PROCESS_ATTACH, nullptr)) {
    loaded_.erase(path);
    static_cast<void>(HandleTable::Remove(HandleKind::kInstance, module->handle));
    dlclose(library);
    freeImports();
    return ERROR_DLL_INIT_FAILED;
  }
  *handle = module->handle;
  return Status::Ok();
}

Status ModuleLoader::Procedure(const void* handle, const std::u16string& name, void** procedure) {
  std::shared_ptr<HandleObject> instance = HandleTable::Lookup(HandleKind::kInstance, handle);
  if (!instance) return ERROR_INVALID_HANDLE;
  auto module = std::dynamic_pointer_cast<Module>(instance);
  if (!module) return ERROR_PROC_NOT_FOUND;  // the program's own instance: it exports nothing
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (module->references == 0) return ERROR_INVALID_HANDLE;
  *procedure = dlsym(module->library, ToUtf8(name).c_str());
  return *procedure ? Status::Ok() : Status(ERROR_PROC_NOT_FOUND);
}

Status ModuleLoader::Free(const void* handle) {
  auto module = HandleTable::LookupAs<Module>(HandleKind::kInstance, handle);
  if (!module) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (module->references == 0) return ERROR_INVALID_HANDLE;
  if (--module->references > 0) return Status::Ok();
  if (module->entry)
    module->entry(static_cast<HINSTANCE>(module->handle), DLL_PROCESS_DETACH, nullptr);
  loaded_.erase(module->path);
  static_cast<void>(HandleTable::Remove(HandleKind::kInstance, module->handle));
  dlclose(module->library);
  for (auto it = module->imports.rbegin(); it != module->imports.rend(); ++it)
    static_cast<void>(Free(*it));
  return Status::Ok();
}

Status ModuleLoader::DisableThreadCalls(const void* handle) {
  auto module = HandleTable::LookupAs<Module>(HandleKind::kInstance, handle);
  if (!module) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  module->threadCalls = false;
  return Status::Ok();
}

bool ModuleLoader::ThreadCallsDisabled(const void* handle) {
  auto module = HandleTable::LookupAs<Module>(HandleKind::kInstance, handle);
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return module && !module->threadCalls;
}

void ModuleLoader::NotifyThreads(DWORD reason) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (const auto& [path, module] : loaded_)
    if (module->entry && module->threadCalls)
      module->entry(static_cast<HINSTANCE>(module->handle), reason, nullptr);
}

void ModuleLoader::ThreadStarted() { NotifyThreads(DLL_THREAD_ATTACH); }

void ModuleLoader::ThreadEnding() { NotifyThreads(DLL_THREAD_DETACH); }

}  // namespace handheld::detail
