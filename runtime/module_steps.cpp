// The table of the module's load and unload steps (runtime/module_steps.h) and its two runs.
#include "runtime/module_steps.h"

namespace dunmarrow {

namespace {

struct Steps {
  ModuleStep load;
  ModuleStep unload;
};

// Zero-initialised before any constructor runs.
constinit Steps steps[static_cast<int>(ModuleStage::kCount)] = {};

}  // namespace

void RegisterModuleSteps(ModuleStage stage, ModuleStep load, ModuleStep unload) {
  steps[static_cast<int>(stage)] = {load, unload};
}

void RunModuleLoadSteps() {
  for (const Steps& stage : steps) {
    if (stage.load) stage.load();
  }
}

void RunModuleUnloadSteps() {
  for (int i = static_cast<int>(ModuleStage::kCount) - 1; i >= 0; --i) {
    if (steps[i].unload) steps[i].unload();
  }
}

}  // namespace dunmarrow
