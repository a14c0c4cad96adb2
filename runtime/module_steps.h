// The module's load and unload steps. Each part of the module that keeps process-wide state
// registers its own steps here with DUNMARROW_MODULE_STEPS; the runtime runs them in the fixed
// order of ModuleStage, so that it needs to know nothing of the parts above it.
#pragma once

namespace dunmarrow {

// The order of the steps: at load from first to last, at unload from last to first. A part
// that has nothing to do at load or at unload registers null there.
enum class ModuleStage {
  kBlockCache,      // runtime: the allocator's cache of blocks, first in and last out
  kLog,             // runtime: the lock of the diagnostic log (unload only)
  kLocaleValues,    // runtime: the locale's values, read once for every part (load only)
  kRegionalFormat,  // format engine: its number settings, from those values (load only)
  kXpLock,          // runtime: the lock of the compression buffers and the CryptoAPI work
  kZBuffers,        // compression: the table of buffers, under the XpLock
  kCryptoProvider,  // crypto: the shared provider, under the XpLock (unload only)
  kNetwork,         // network: Windows Sockets and the name cache
  kCount
};

using ModuleStep = void (*)();

// Called at static initialisation through DUNMARROW_MODULE_STEPS, once for each stage.
void RegisterModuleSteps(ModuleStage stage, ModuleStep load, ModuleStep unload);

// The registered steps, in order (runtime/module.cpp runs them as the module is loaded and
// unloaded).
void RunModuleLoadSteps();
void RunModuleUnloadSteps();

// The registration runs with a constructor priority, before every unprioritised constructor:
// on Linux the module's load runs as an unprioritised constructor of the same module, on
// Windows from DllMain, after all of them. The table it fills is constant-initialised, so the
// order of registrations among each other does not matter. In the unit tests, which link the
// parts statically without runtime/module.cpp, the registration only fills the table.
#define DUNMARROW_MODULE_STEPS(stage, load, unload)                                  \
  __attribute__((constructor(101))) static void RegisterModuleSteps_##stage() {      \
    ::dunmarrow::RegisterModuleSteps(::dunmarrow::ModuleStage::stage, load, unload); \
  }

}  // namespace dunmarrow
