// The extended procedures the engine knows: the exports of the modules it loaded, by exact
// name, as sp_addextendedproc registers them in the server. One registry serves every session:
// lookups share a lock, registering and dropping take it alone. Modules stay loaded, so an
// entry point found stays callable while another session drops its name.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "ods/session.h"
#include "platform/windows.h"

namespace dunmarrow::tsql {

struct Procedure {
  std::string name;
  std::string dll;
  ods::ProcEntry entry = nullptr;
};

class ProcedureRegistry {
 public:
  // Loads the module, asks __GetXpVersion and registers every exported xp_ name.
  // Raises SqlError when the module cannot be loaded.
  void LoadModule(const std::string& path);
  // sp_addextendedproc: registers one export of a module (loaded when it is not yet).
  void Add(const std::string& name, const std::string& dll);
  // sp_dropextendedproc.
  void Drop(const std::string& name);
  std::optional<Procedure> Find(const std::string& name) const;
  std::vector<Procedure> All() const;
  // What __GetXpVersion answered for the module, if it exports it.
  std::optional<uint32_t> Version(const std::string& dll) const;

 private:
  HMODULE Load(const std::string& path);  // under the lock, held alone

  struct Module {
    HMODULE handle = nullptr;
    std::optional<uint32_t> version;
  };
  std::map<std::string, Module> modules_;  // by path as given
  std::map<std::string, Procedure> procedures_;
  mutable std::shared_mutex lock_;
};

}  // namespace dunmarrow::tsql
