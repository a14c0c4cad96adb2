// The registry of extended procedures: modules loaded once and kept, names added and
// dropped as sp_addextendedproc and sp_dropextendedproc do.
#include "tsql/procedures.h"

#include <mutex>

#include "tsql/errors.h"
#include "tsql/module_exports.h"

namespace dunmarrow::tsql {

namespace {

// "126(The specified module could not be found.)": the code and the system's text for it.
std::string Reason(DWORD code) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return std::to_string(code) + "(" + message + ")";
}

ods::ProcEntry AsEntry(FARPROC address) {
  return reinterpret_cast<ods::ProcEntry>(reinterpret_cast<void (*)()>(address));
}

}  // namespace

HMODULE ProcedureRegistry::Load(const std::string& path) {
  auto found = modules_.find(path);
  if (found != modules_.end()) return found->second.handle;
  HMODULE handle = LoadLibraryA(path.c_str());
  if (!handle) {
    throw SqlError(17750, 16, 0,
                   "Could not load the DLL " + path +
                       ", or one of the DLLs it references. Reason: " + Reason(GetLastError()) +
                       ".");
  }
  Module module;
  module.handle = handle;
  if (FARPROC version = GetProcAddress(handle, "__GetXpVersion")) {
    auto query = reinterpret_cast<uint32_t (*)()>(reinterpret_cast<void (*)()>(version));
    module.version = query();
  }
  modules_[path] = module;
  return handle;
}

void ProcedureRegistry::LoadModule(const std::string& path) {
  std::unique_lock lock(lock_);
  HMODULE handle = Load(path);
  for (const std::string& name : ExportedNames(handle, path)) {
    if (name.rfind("xp_", 0) != 0) continue;
    FARPROC address = GetProcAddress(handle, name.c_str());
    if (address) procedures_[name] = Procedure{name, path, AsEntry(address)};
  }
}

void ProcedureRegistry::Add(const std::string& name, const std::string& dll) {
  std::unique_lock lock(lock_);
  if (procedures_.count(name)) {
    throw SqlError(2714, 16, 6, "There is already an object named '" + name + "' in the database.");
  }
  HMODULE handle = Load(dll);
  FARPROC address = GetProcAddress(handle, name.c_str());
  if (!address) {
    throw SqlError(17751, 16, 0,
                   "Could not find the function " + name + " in the library " + dll +
                       ". Reason: " + Reason(GetLastError()) + ".");
  }
  procedures_[name] = Procedure{name, dll, AsEntry(address)};
}

void ProcedureRegistry::Drop(const std::string& name) {
  std::unique_lock lock(lock_);
  if (!procedures_.erase(name)) {
    throw SqlError(3701, 11, 5,
                   "Cannot drop the procedure '" + name +
                       "', because it does not exist or you do not have permission.");
  }
}

std::optional<Procedure> ProcedureRegistry::Find(const std::string& name) const {
  std::shared_lock lock(lock_);
  auto found = procedures_.find(name);
  if (found == procedures_.end()) return std::nullopt;
  return found->second;
}

std::vector<Procedure> ProcedureRegistry::All() const {
  std::shared_lock lock(lock_);
  std::vector<Procedure> all;
  for (const auto& [name, procedure] : procedures_) all.push_back(procedure);
  return all;
}

std::optional<uint32_t> ProcedureRegistry::Version(const std::string& dll) const {
  std::shared_lock lock(lock_);
  auto found = modules_.find(dll);
  return found == modules_.end() ? std::nullopt : found->second.version;
}

}  // namespace dunmarrow::tsql
