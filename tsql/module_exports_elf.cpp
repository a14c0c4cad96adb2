// Linux: the dynamic symbol table of the module's ELF file. Read from the file with standard
// streams; only global, defined functions count.
#include <cstring>
#include <fstream>

#include "tsql/module_exports.h"

namespace dunmarrow::tsql {

namespace {

// The parts of the ELF headers that are read, for 32-bit and 64-bit files.
template <bool k64>
struct Elf {
  using Addr = std::conditional_t<k64, uint64_t, uint32_t>;
  struct Header {
    unsigned char ident[16];
    uint16_t type, machine;
    uint32_t version;
    Addr entry, phoff, shoff;
    uint32_t flags;
    uint16_t ehsize, phentsize, phnum, shentsize, shnum, shstrndx;
  };
  struct Section {
    uint32_t name, type;
    Addr flags, addr, offset, size;
    uint32_t link, info;
    Addr addralign, entsize;
  };
  struct Symbol64 {
    uint32_t name;
    unsigned char info, other;
    uint16_t shndx;
    uint64_t value, size;
  };
  struct Symbol32 {
    uint32_t name;
    uint32_t value, size;
    unsigned char info, other;
    uint16_t shndx;
  };
  using Symbol = std::conditional_t<k64, Symbol64, Symbol32>;
};

constexpr uint32_t kDynSym = 11;
constexpr unsigned char kGlobal = 1, kWeak = 2, kFunc = 2;

template <typename T>
bool ReadAt(std::ifstream& in, uint64_t offset, T& out) {
  in.seekg(static_cast<std::streamoff>(offset));
  return static_cast<bool>(in.read(reinterpret_cast<char*>(&out), sizeof out));
}

template <bool k64>
std::vector<std::string> ReadNames(std::ifstream& in) {
  using E = Elf<k64>;
  std::vector<std::string> names;
  typename E::Header header;
  if (!ReadAt(in, 0, header) || header.shentsize != sizeof(typename E::Section)) return names;
  for (uint16_t i = 0; i < header.shnum; ++i) {
    typename E::Section section;
    if (!ReadAt(in, header.shoff + uint64_t{i} * header.shentsize, section)) return names;
    if (section.type != kDynSym || section.entsize != sizeof(typename E::Symbol)) continue;
    typename E::Section strings;
    if (!ReadAt(in, header.shoff + uint64_t{section.link} * header.shentsize, strings))
      return names;
    std::string table(static_cast<size_t>(strings.size), '\0');
    in.seekg(static_cast<std::streamoff>(strings.offset));
    if (!in.read(table.data(), static_cast<std::streamsize>(table.size()))) return names;
    uint64_t count = section.size / section.entsize;
    for (uint64_t k = 1; k < count; ++k) {
      typename E::Symbol symbol;
      if (!ReadAt(in, section.offset + k * section.entsize, symbol)) return names;
      unsigned char bind = symbol.info >> 4, type = symbol.info & 0xF;
      bool visible = (symbol.other & 3) == 0;
      if ((bind != kGlobal && bind != kWeak) || type != kFunc || symbol.shndx == 0 || !visible)
        continue;
      if (symbol.name >= table.size()) continue;
      names.emplace_back(table.c_str() + symbol.name);
    }
  }
  return names;
}

}  // namespace

std::vector<std::string> ExportedNames(HMODULE, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char ident[16] = {};
  if (!in.read(reinterpret_cast<char*>(ident), sizeof ident)) return {};
  if (std::memcmp(ident,
                  "\x7F"
                  "ELF",
                  4) != 0 ||
      ident[5] != 1)
    return {};  // little-endian only
  return ident[4] == 2 ? ReadNames<true>(in) : ReadNames<false>(in);
}

}  // namespace dunmarrow::tsql
