#include "runtime/module.h"

#include "crypto/crypto.h"
#include "net/internet.h"
#include "platform/windows.h"
#include "procs/compress/zbuffer.h"
#include "procs/file/format_engine.h"
#include "runtime/block_cache.h"
#include "runtime/locale_settings.h"
#include "runtime/report.h"
#include "runtime/xp_lock.h"

namespace dunmarrow {

void ModuleLoad() {
  InstallBlockCache();
  LoadDateTimeFormats();
  LoadRegionalFormat();
  CreateXpLock();
  CreateZBufferRegistry();
  NetworkStartup();
}

void ModuleUnload() {
  NetworkCleanup();
  ReleaseSharedCryptoProvider();
  DestroyZBufferRegistry();
  DeleteXpLock();
  DestroyLogLock();
  ReleaseBlockCache();
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
