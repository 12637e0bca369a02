// The tables the loader reads (symbols, strings, section names) become
// allocated sections at the end of the LOAD region, each at its own
// alignment, in the order the layout moves them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "layout/layout.h"
#include "symbols/symbol_test_image.h"

namespace zv::test {
namespace {

struct PlaceCase {
  const char* label;
  uint32_t addralign;
  uint32_t loadEnd;
  uint32_t address;
};

class PlaceTable : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceTable, AlignsTheLoadEnd) {
  const PlaceCase& c = GetParam();
  LinkedModule m = makeLinkedModule();
  Context ctx;
  ctx.opt.verbose = true;
  loadWithSymbols(ctx, m.b);
  Elf32_Shdr& h = ctx.input.sh[m.symtab];
  h.sh_addralign = c.addralign;
  h.sh_addr = 0x1234;
  ctx.lay.region(LoaderRegion::kLoad).end = c.loadEnd;
  placeTableInLoadRegion(ctx, m.symtab);
  EXPECT_EQ(h.sh_addr, c.address);
  EXPECT_TRUE(h.sh_flags & SHF_ALLOC);
  EXPECT_EQ(ctx.lay.region(LoaderRegion::kLoad).end, c.address + h.sh_size);
  char line[80];
  snprintf(line, sizeof line, "Moved symbolTable table from 0x00001234 to 0x%08X\n", c.address);
  EXPECT_EQ(ctx.con.text, line);
}

INSTANTIATE_TEST_SUITE_P(Alignments, PlaceTable,
                         ::testing::Values(PlaceCase{"Zero", 0, 0xC0000031, 0xC0000031},
                                           PlaceCase{"NotPowerOfTwo", 12, 0xC0000031, 0xC0000031},
                                           PlaceCase{"One", 1, 0xC0000031, 0xC0000031},
                                           PlaceCase{"Sixteen", 16, 0xC0000031, 0xC0000040},
                                           PlaceCase{"SixteenAligned", 16, 0xC0000040, 0xC0000040}),
                         [](const auto& p) { return std::string(p.param.label); });

// The three tables one after the other, as the layout places them after two
// export sections that end at 0xC0000030.
TEST(PlaceTable, SymbolStringAndSectionNameTablesInOrder) {
  LinkedModule m = makeLinkedModule();
  Context ctx;
  ctx.opt.verbose = true;
  loadWithSymbols(ctx, m.b);
  uint32_t names = ctx.input.eh.e_shstrndx;
  struct {
    uint32_t index, size, align;
  } tables[] = {{m.symtab, 0x200, 4}, {m.strtab, 0x101, 1}, {names, 0x80, 1}};
  for (auto& t : tables) {
    ctx.input.sh[t.index].sh_size = t.size;
    ctx.input.sh[t.index].sh_addralign = t.align;
  }
  ctx.lay.region(LoaderRegion::kLoad).end = 0xC0000030;
  for (auto& t : tables) placeTableInLoadRegion(ctx, t.index);
  EXPECT_EQ(ctx.input.sh[m.symtab].sh_addr, 0xC0000030u);
  EXPECT_EQ(ctx.input.sh[m.strtab].sh_addr, 0xC0000230u);
  EXPECT_EQ(ctx.input.sh[names].sh_addr, 0xC0000331u);
  EXPECT_EQ(ctx.lay.region(LoaderRegion::kLoad).end, 0xC00003B1u);
  EXPECT_EQ(ctx.con.text,
            "Moved symbolTable table from 0x00000000 to 0xC0000030\n"
            "Moved stringTable table from 0x00000000 to 0xC0000230\n"
            "Moved stringTable table from 0x00000000 to 0xC0000331\n");
}

TEST(PlaceTable, AllocatedTableStaysWhereItIs) {
  LinkedModule m = makeLinkedModule();
  Context ctx;
  ctx.opt.verbose = true;
  loadWithSymbols(ctx, m.b);
  Elf32_Shdr& h = ctx.input.sh[m.strtab];
  h.sh_flags |= SHF_ALLOC;
  h.sh_addr = 0xC0001000;
  ctx.lay.region(LoaderRegion::kLoad).end = 0xC0000030;
  placeTableInLoadRegion(ctx, m.strtab);
  placeTableInLoadRegion(ctx, 0xFF00);  // names no section
  EXPECT_EQ(h.sh_addr, 0xC0001000u);
  EXPECT_EQ(ctx.lay.region(LoaderRegion::kLoad).end, 0xC0000030u);
  EXPECT_EQ(ctx.con.text, "");
}

}  // namespace
}  // namespace zv::test
