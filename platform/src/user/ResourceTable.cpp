#include "ResourceTable.h"

#include <dlfcn.h>
#include <sys/auxv.h>

#include <cstring>
#include <mutex>

#include "HandleTable.h"
#include "ProcessLifetime.h"
#include "win/core.h"

namespace handheld::detail {
namespace {

// The program's instance handle stands for the executable's image.
class ProgramModule : public HandleObject {};

struct Resources {
  std::mutex mutex;
  std::vector<std::unique_ptr<ResourceTable::Resource>> all;  // never removed
  HINSTANCE program = nullptr;
  const void* programBase = nullptr;
  Resources() {
    program = HandleTable::Add<HINSTANCE>(HandleKind::kInstance, std::make_shared<ProgramModule>());
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(getauxval(AT_PHDR)), &info)) programBase = info.dli_fbase;
  }
};

Resources& TheResources() { return ProcessLifetime<Resources>::Get(); }

const void* ModuleOf(const void* address) {
  Dl_info info{};
  return dladdr(address, &info) ? info.dli_fbase : nullptr;
}

bool SameName(WORD id, const std::u16string& name, LPCWSTR wanted) {
  if (IS_INTRESOURCE(wanted)) return name.empty() && id == LOWORD(wanted);
  return !name.empty() && _wcsicmp(name.c_str(), wanted) == 0;
}

// Reads an image in place, every read checked against its end.
class ImageReader {
 public:
  ImageReader(const BYTE* base, size_t end) : base_(base), end_(end) {}
  size_t at() const { return at_; }
  bool Seek(size_t offset) {
    if (offset > end_) return false;
    at_ = offset;
    return true;
  }
  bool Word(WORD* value) { return Take(value, sizeof *value); }
  bool Dword(DWORD* value) { return Take(value, sizeof *value); }
  // A type or name: 0xFFFF and an ordinal, or a NUL-terminated text.
  bool IdOrName(WORD* id, std::u16string* name) {
    WORD first = 0;
    if (!Word(&first)) return false;
    if (first == 0xFFFF) return Word(id);
    for (WORD c = first; c != 0;) {
      name->push_back(static_cast<char16_t>(c));
      if (!Word(&c)) return false;
    }
    return true;
  }
  bool Align() { return Seek((at_ + 3) & ~static_cast<size_t>(3)); }

 private:
  bool Take(void* out, size_t bytes) {
    if (end_ - at_ < bytes) return false;
    std::memcpy(out, base_ + at_, bytes);
    at_ += bytes;
    return true;
  }
  const BYTE* base_;
  size_t end_;
  size_t at_ = 0;
};

}  // namespace

HINSTANCE ResourceTable::ProgramInstance() { return TheResources().program; }

bool ResourceTable::Parse(const BYTE* image, DWORD size, const void* module,
                          std::vector<Resource>* resources) {
  if (!image) return false;
  ImageReader in(image, size);
  while (in.at() < size) {
    const size_t start = in.at();
    DWORD dataSize = 0, headerSize = 0;
    if (!in.Dword(&dataSize) || !in.Dword(&headerSize)) return false;
    if (headerSize < 32 || headerSize > size - start || dataSize > size - start - headerSize)
      return false;
    ImageReader header(image, start + headerSize);
    Resource r;
    r.module = module;
    DWORD dataVersion = 0, version = 0, characteristics = 0;
    WORD memoryFlags = 0;
    if (!header.Seek(start + 8) || !header.IdOrName(&r.typeId, &r.typeName) ||
        !header.IdOrName(&r.nameId, &r.name) || !header.Align() || !header.Dword(&dataVersion) ||
        !header.Word(&memoryFlags) || !header.Word(&r.language) || !header.Dword(&version) ||
        !header.Dword(&characteristics))
      return false;
    r.data = image + start + headerSize;
    r.size = dataSize;
    // The format begins with an empty entry of type 0 and name 0.
    if (!(r.typeName.empty() && r.typeId == 0 && r.name.empty() && r.nameId == 0))
      resources->push_back(std::move(r));
    if (!in.Seek(start + headerSize + dataSize) || !in.Align()) return false;
  }
  return true;
}

Status ResourceTable::Declare(const BYTE* image, DWORD size) {
  std::vector<Resource> parsed;
  if (!Parse(image, size, ModuleOf(image), &parsed)) return ERROR_INVALID_DATA;
  Resources& resources = TheResources();
  std::lock_guard<std::mutex> lock(resources.mutex);
  for (Resource& r : parsed) resources.all.push_back(std::make_unique<Resource>(std::move(r)));
  return Status::Ok();
}

const ResourceTable::Resource* ResourceTable::Find(HINSTANCE instance, LPCWSTR type,
                                                   LPCWSTR name) {
  return name ? FindAny(instance, type, name) : nullptr;
}

bool ResourceTable::HasType(HINSTANCE instance, LPCWSTR type) {
  return FindAny(instance, type, nullptr) != nullptr;
}

const ResourceTable::Resource* ResourceTable::FindAny(HINSTANCE instance, LPCWSTR type,
                                                      LPCWSTR name) {
  Resources& resources = TheResources();
  if (!type) return nullptr;
  if (instance && instance != resources.program) return nullptr;  // libraries declare none
  std::lock_guard<std::mutex> lock(resources.mutex);
  for (const auto& r : resources.all)
    if (r->module == resources.programBase && SameName(r->typeId, r->typeName, type) &&
        (!name || SameName(r->nameId, r->name, name)))
      return r.get();
  return nullptr;
}

}  // namespace handheld::detail
