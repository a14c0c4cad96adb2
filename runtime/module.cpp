// The module's entry at load and unload: DllMain on Windows, a constructor and a destructor of
// the shared object on Linux. They run the steps registered with runtime/module_steps.h in
// their fixed order: the runtime's own, registered here, and those of the parts above it
// (format engine, compression, crypto, network), each registered by its part.
#include "runtime/module.h"

#include "platform/windows.h"
#include "runtime/block_cache.h"
#include "runtime/locale_values.h"
#include "runtime/module_steps.h"
#include "runtime/report.h"
#include "runtime/xp_lock.h"

namespace dunmarrow {

DUNMARROW_MODULE_STEPS(kBlockCache, InstallBlockCache, ReleaseBlockCache)
DUNMARROW_MODULE_STEPS(kLog, nullptr, DestroyLogLock)
DUNMARROW_MODULE_STEPS(kLocaleValues, LoadLocaleValues, nullptr)
DUNMARROW_MODULE_STEPS(kXpLock, CreateXpLock, DeleteXpLock)

void ModuleLoad() {
  RunModuleLoadSteps();
}

void ModuleUnload() {
  RunModuleUnloadSteps();
}

}  // namespace dunmarrow

#ifdef _WIN32
// Nothing runs when a thread attaches or detaches.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) dunmarrow::ModuleLoad();
  if (reason == DLL_PROCESS_DETACH) dunmarrow::ModuleUnload();
  return TRUE;
}
#else
__attribute__((constructor)) static void OnModuleLoad() {
  dunmarrow::ModuleLoad();
}
__attribute__((destructor)) static void OnModuleUnload() {
  dunmarrow::ModuleUnload();
}
#endif
