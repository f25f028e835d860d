#include "ResourceTable.h"

#include <dlfcn.h>
#include <sys/auxv.h>

#include <mutex>

#include "DialogBox.h"
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

DialogBox::Description Describe(const DIALOG_RESOURCE& d) {
  DialogBox::Description out;
  out.style = d.style;
  out.exStyle = d.exStyle;
  out.x = d.x;
  out.y = d.y;
  out.cx = d.cx;
  out.cy = d.cy;
  out.caption = d.caption ? d.caption : u"";
  out.pointSize = d.pointSize;
  out.faceName = d.faceName ? d.faceName : u"";
  for (UINT i = 0; d.items && i < d.count; ++i) {
    const DIALOG_RESOURCE_ITEM& item = d.items[i];
    out.items.push_back(DialogBox::Item{item.style, item.exStyle, item.x, item.y, item.cx, item.cy,
                                        item.id, item.className ? item.className : u"",
                                        item.text ? item.text : u""});
  }
  return out;
}

}  // namespace

HINSTANCE ResourceTable::ProgramInstance() { return TheResources().program; }

Status ResourceTable::Declare(const RESOURCE_ENTRY* entries, UINT count) {
  if (!entries || count == 0) return ERROR_INVALID_PARAMETER;
  Resources& resources = TheResources();
  const void* module = ModuleOf(entries);
  std::lock_guard<std::mutex> lock(resources.mutex);
  for (UINT i = 0; i < count; ++i) {
    const RESOURCE_ENTRY& entry = entries[i];
    if (!entry.type || !entry.name) return ERROR_INVALID_PARAMETER;
    auto resource = std::make_unique<Resource>();
    resource->module = module;
    if (IS_INTRESOURCE(entry.type)) resource->typeId = LOWORD(entry.type);
    else resource->typeName = entry.type;
    if (IS_INTRESOURCE(entry.name)) resource->nameId = LOWORD(entry.name);
    else resource->name = entry.name;
    resource->data = entry.data;
    resource->size = entry.size;
    if (entry.type == RT_STRING && entry.data)
      resource->size = static_cast<DWORD>((wcslen(static_cast<LPCWSTR>(entry.data)) + 1) * 2);
    if (entry.type == RT_DIALOG) {
      if (!entry.data || entry.size != sizeof(DIALOG_RESOURCE)) return ERROR_INVALID_PARAMETER;
      resource->converted = DialogBox::Write(Describe(*static_cast<const DIALOG_RESOURCE*>(entry.data)));
      resource->data = resource->converted.data();
      resource->size = static_cast<DWORD>(resource->converted.size());
    }
    resources.all.push_back(std::move(resource));
  }
  return Status::Ok();
}

const ResourceTable::Resource* ResourceTable::Find(HINSTANCE instance, LPCWSTR type,
                                                   LPCWSTR name) {
  Resources& resources = TheResources();
  if (!type || !name) return nullptr;
  if (instance && instance != resources.program) return nullptr;  // libraries declare none
  std::lock_guard<std::mutex> lock(resources.mutex);
  for (const auto& r : resources.all)
    if (r->module == resources.programBase && SameName(r->typeId, r->typeName, type) &&
        SameName(r->nameId, r->name, name))
      return r.get();
  return nullptr;
}

}  // namespace handheld::detail
