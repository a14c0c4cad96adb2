// Linux stand-ins: modules (LoadLibrary, GetProcAddress, FreeLibrary, GetModuleHandleEx) over
// the dynamic loader.
#include "platform/linux/module.h"

#include <dlfcn.h>
#include <link.h>

#include <map>
#include <mutex>

#include "platform/linux/errors.h"

namespace {

// Like Windows, a module handle is the module's load address; this maps it to dlopen's handle.
std::mutex modules_mutex;
std::map<HMODULE, void*> loaded_modules;

}  // namespace

extern "C" {

HMODULE LoadLibraryA(LPCSTR path) {
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  struct link_map* map = nullptr;
  HMODULE base = library;
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_addr != 0) {
    base = reinterpret_cast<HMODULE>(map->l_addr);
  }
  std::lock_guard<std::mutex> lock(modules_mutex);
  auto [it, inserted] = loaded_modules.emplace(base, library);
  if (!inserted) dlclose(library);  // already loaded: dlopen counted a second reference
  return base;
}

BOOL FreeLibrary(HMODULE module) {
  std::lock_guard<std::mutex> lock(modules_mutex);
  auto it = loaded_modules.find(module);
  if (it == loaded_modules.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  dlclose(it->second);
  loaded_modules.erase(it);
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  void* library = nullptr;
  {
    std::lock_guard<std::mutex> lock(modules_mutex);
    auto it = loaded_modules.find(module);
    if (it != loaded_modules.end()) library = it->second;
  }
  if (!library || !name) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* symbol = dlsym(library, name);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL GetModuleHandleExA(DWORD flags, LPCSTR name_or_address, HMODULE* module) {
  if (!module || !(flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Dl_info info{};
  if (!dladdr(name_or_address, &info) || !info.dli_fbase) {
    *module = nullptr;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  *module = info.dli_fbase;
  return TRUE;
}

}  // extern "C"
