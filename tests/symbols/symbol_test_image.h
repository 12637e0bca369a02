// Shared set-up of the symbol-table tests: a module described with the test
// ELF maker loaded as the later stages find it, its symbol table located,
// and its section reference counts taken by the conversion's own pass.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "elf/image.h"
#include "support/elf_builder.h"
#include "support/loaded_image.h"
#include "symbols/symbols.h"

namespace zv::test {

// Section contents of `n` zero bytes, and the flags of code and data sections.
inline std::vector<uint8_t> zeros(size_t n) { return std::vector<uint8_t>(n, 0); }
inline constexpr uint32_t kText = kShfAlloc | kShfExecInstr;
inline constexpr uint32_t kData = kShfAlloc | kShfWrite;

// Loads `bytes` as the later stages find them (support/loaded_image.h) and
// locates the symbol table, as the conversion does first.
inline void loadWithSymbols(zv::Context& ctx, std::vector<uint8_t> bytes) {
  loadImage(ctx, std::move(bytes));
  zv::locateSymbolTable(ctx);
}

inline void loadWithSymbols(zv::Context& ctx, const ElfBuilder& b) { loadWithSymbols(ctx, build(b)); }

inline zv::Elf32_Sym symbolAt(zv::Context& ctx, uint32_t i) {
  zv::Elf32_Sym s{};
  EXPECT_TRUE(zv::symbolAt(ctx, i, s)) << "symbol " << i;
  return s;
}

inline zv::Elf32_Rela relaAt(zv::Context& ctx, uint32_t section, uint32_t n) {
  zv::Elf32_Rela r{};
  EXPECT_TRUE(zv::readRela(ctx.input, section, n, r)) << "relocation " << n << " of " << section;
  return r;
}

// Points symbol i's st_name elsewhere (the parser refuses names past the
// string table, so such names are made after the parse).
inline void setName(zv::Context& ctx, uint32_t i, uint32_t st_name) {
  zv::Elf32_Sym s = symbolAt(ctx, i);
  s.st_name = st_name;
  EXPECT_TRUE(zv::setSymbolAt(ctx, i, s));
}

inline bool isZero(const zv::Elf32_Sym& s) {
  return s.st_name == 0 && s.st_value == 0 && s.st_size == 0 && s.st_info == 0 && s.st_other == 0 && s.st_shndx == 0;
}

}  // namespace zv::test
