// 32-bit Windows only: keeps the module's C++ exceptions working in a process that has GCC's
// shared runtime (libgcc_s_dw2-1.dll) loaded, such as a host built with it or a server with
// another module that uses it.
//
// The 32-bit build unwinds with GCC's DWARF unwinder, linked into the module. At load, GCC's
// start-up code registers the module's unwind tables (.eh_frame) with libgcc_s_dw2-1.dll when
// that DLL is already in the process, and with the module's own unwinder only otherwise. The
// module throws and catches with its own unwinder, which would then know none of its frames:
// every exception would end the process. Registering the tables with the module's own unwinder
// as well settles it. The 64-bit build unwinds through the system's tables and needs nothing.
#if defined(_WIN32) && defined(__i386__)

#include <cstring>

#include "platform/windows.h"

extern "C" void __register_frame_info(const void* tables, void* object);
extern "C" void* __deregister_frame_info(const void* tables);

namespace {

// The start of the module's .eh_frame section (its name is cut to eight characters in the
// image), or null.
const void* OwnUnwindTables() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&OwnUnwindTables), &self)) {
    return nullptr;
  }
  const auto* base = reinterpret_cast<const BYTE*>(self);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (std::memcmp(section->Name, ".eh_fram", 8) == 0) return base + section->VirtualAddress;
  }
  return nullptr;
}

class OwnUnwinderRegistration {
 public:
  OwnUnwinderRegistration() {
    // Without the shared runtime in the process the start-up code chose our own unwinder.
    if (!GetModuleHandleA("libgcc_s_dw2-1.dll")) return;
    tables_ = OwnUnwindTables();
    if (tables_) __register_frame_info(tables_, object_);
  }
  ~OwnUnwinderRegistration() {
    if (tables_) __deregister_frame_info(tables_);
  }
  OwnUnwinderRegistration(const OwnUnwinderRegistration&) = delete;
  OwnUnwinderRegistration& operator=(const OwnUnwinderRegistration&) = delete;

 private:
  const void* tables_ = nullptr;
  // The unwinder's record of the tables (its struct object: seven words on i686), kept here
  // for as long as they are registered.
  alignas(void*) unsigned char object_[16 * sizeof(void*)] = {};
};

OwnUnwinderRegistration registration;

}  // namespace

#endif
