// Loads the module as the server does and checks what the server relies on: the module and
// the opends60.dll it imports load, __GetXpVersion answers 0x07000000, every name of the
// export table resolves and no other name is exported, and the version resource reads the
// project's version. The names and the version are compiled in from the build's generated
// headers.
// usage: xp_load MODULE
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dunmarrow_version.h"
#include "export_table.h"

namespace {

int failures = 0;

void Expect(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  if (!ok) ++failures;
}

DWORD ExportedNameCount(HMODULE module) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (entry.VirtualAddress == 0) return 0;
  return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress)
      ->NumberOfNames;
}

std::string VersionText(DWORD ms, DWORD ls) {
  char text[64];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(HIWORD(ms)), unsigned(LOWORD(ms)),
                unsigned(HIWORD(ls)), unsigned(LOWORD(ls)));
  return text;
}

void CheckVersionResource(const char* path) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  Expect(size > 0, "the module has a version resource");
  if (size == 0) return;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoA(path, 0, size, data.data())) {
    Expect(false, "GetFileVersionInfoA reads it");
    return;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) {
    Expect(false, "the version resource has its fixed part");
    return;
  }
  std::string file = VersionText(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  std::string product = VersionText(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  Expect(file == DUNMARROW_VERSION, "file version " + file);
  Expect(product == DUNMARROW_VERSION, "product version " + product);
  char* text = nullptr;
  if (VerQueryValueA(data.data(), "\\StringFileInfo\\040904E4\\FileVersion",
                     reinterpret_cast<void**>(&text), &length) &&
      text) {
    Expect(std::string(text) == DUNMARROW_VERSION, std::string("FileVersion text ") + text);
  } else {
    Expect(false, "the version resource has the FileVersion text");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s MODULE\n", argv[0]);
    return 2;
  }
  HMODULE module = LoadLibraryA(argv[1]);
  Expect(module != nullptr, std::string("LoadLibraryA loads ") + argv[1] + " (error " +
                                std::to_string(module ? 0 : GetLastError()) + ")");
  if (!module) return 1;

  using VersionProc = ULONG(__cdecl*)();
  auto version = reinterpret_cast<VersionProc>(
      reinterpret_cast<void*>(GetProcAddress(module, "__GetXpVersion")));
  char text[16] = "none";
  if (version) std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(version()));
  Expect(version && version() == 0x07000000, std::string("__GetXpVersion() = ") + text);

  size_t resolved = 0;
  for (const char* name : dunmarrow::kExportNames) {
    if (GetProcAddress(module, name)) {
      ++resolved;
    } else {
      Expect(false, std::string(name) + " resolves");
    }
  }
  Expect(resolved == dunmarrow::kExportCount, std::to_string(resolved) + " of the " +
                                                  std::to_string(dunmarrow::kExportCount) +
                                                  " names of the export table resolve");
  DWORD exported = ExportedNameCount(module);
  Expect(exported == dunmarrow::kExportCount, std::to_string(exported) + " names exported");

  CheckVersionResource(argv[1]);
  FreeLibrary(module);
  return failures == 0 ? 0 : 1;
}
