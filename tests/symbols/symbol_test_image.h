// Shared set-up of the symbol-table tests: a module described with the test
// ELF maker is parsed into a run's input image the way the input loader does
// it, its symbol table located, and its section reference counts taken as
// the writer takes them before the symbol work.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "elf/image.h"
#include "support/elf_builder.h"
#include "symbols/symbols.h"

namespace symtest {

// Parses `bytes` into ctx.input (host order in place) and locates the
// symbol table. Messages are captured in ctx.con.text.
inline void loadImage(zv::Context& ctx, std::vector<uint8_t> bytes) {
  ctx.con.capture = true;
  uint32_t size = static_cast<uint32_t>(bytes.size());
  ctx.inputFile = zv::mapMemory(std::move(bytes));
  ASSERT_EQ(zv::parseElfImage(ctx.inputFile->base, size, ctx.input), 0u);
  ctx.haveInput = true;
  zv::locate_symbol_table(ctx);
}

inline void loadImage(zv::Context& ctx, const zvtest::ElfBuilder& b) { loadImage(ctx, zvtest::build(b)); }

// The writer's steps before the symbol table is reworked: reference counts,
// the unused-section pass and the final count.
inline void countAndDropUnused(zv::Context& ctx) {
  ctx.sym.section_refs.assign(zv::sectionCount(ctx.input), 0);
  zv::count_section_references(ctx);
  zv::remove_unused_sections(ctx);
  zv::count_section_references(ctx);
}

inline zv::Elf32_Sym symbolAt(zv::Context& ctx, uint32_t i) {
  zv::Elf32_Sym s{};
  EXPECT_TRUE(zv::symbol_at(ctx, i, s)) << "symbol " << i;
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
  EXPECT_TRUE(zv::set_symbol_at(ctx, i, s));
}

inline bool isZero(const zv::Elf32_Sym& s) {
  return s.st_name == 0 && s.st_value == 0 && s.st_size == 0 && s.st_info == 0 && s.st_other == 0 && s.st_shndx == 0;
}

}  // namespace symtest
