// The section-name table rebuild measures the kept names only as far as the
// new table could still come out smaller, so a damaged table whose one long
// name thousands of sections share costs no more than the table itself, and
// a name that runs to the end of the table without a terminator is taken up
// to that end, as every name lookup reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "elf/image.h"
#include "layout/layout.h"
#include "support/elf_builder.h"
#include "support/loaded_image.h"
#include "symbols/symbols.h"

namespace zv::test {
namespace {

struct Loaded {
  zv::Context ctx;
  explicit Loaded(std::vector<uint8_t> bytes) {
    loadImage(ctx, std::move(bytes));
    zv::locateSymbolTable(ctx);
    zv::countSectionReferences(ctx);
  }
};

TEST(LongSectionNames, OneLongNameSharedByManySectionsLeavesTheTableAlone) {
  ElfBuilder b;
  uint16_t first = addProgbits(b, std::string(1u << 20, 'n'), kShfAlloc, 0x10000000, words32({0}));
  for (int k = 0; k < 2000; ++k) addProgbits(b, "", kShfAlloc, 0x10000000, words32({0}));
  addSymtab(b);
  std::vector<uint8_t> bytes = build(b);
  uint32_t shoff = layoutOf(b).shoff;
  auto nameField = [shoff](uint32_t k) { return shoff + kShdrSize * k + shdr_at::sh_name; };
  uint32_t longName = get32(bytes, nameField(first));
  for (uint32_t k = first + 1; k < first + 2001u; ++k) put32(bytes, nameField(k), longName);
  Loaded run(std::move(bytes));
  std::vector<zv::Elf32_Shdr> before = run.ctx.input.sh;

  zv::rebuildSectionNames(run.ctx);

  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(run.ctx.input.sh[i].sh_name, before[i].sh_name) << i;
    EXPECT_EQ(run.ctx.input.sh[i].sh_size, before[i].sh_size) << i;
  }
}

TEST(LongSectionNames, UnterminatedLastNameIsKeptUpToTheTableEnd) {
  ElfBuilder b;
  std::vector<uint16_t> secs;
  for (int k = 0; k < 6; ++k)
    secs.push_back(addProgbits(b, ".section" + std::to_string(k), kShfAlloc, 0x10000000, words32({0})));
  addSymtab(b);
  std::vector<uint8_t> bytes = build(b);
  Layout lay = layoutOf(b);
  // The table loses its final terminator: ".shstrtab", its last name, then
  // ends at the table's end. Two kept sections use that name.
  uint32_t tableSize = get32(bytes, sectionHeaderOffset(b, lay.shstrndx) + shdr_at::sh_size);
  put32(bytes, sectionHeaderOffset(b, lay.shstrndx) + shdr_at::sh_size, tableSize - 1);
  uint32_t lastName = get32(bytes, sectionHeaderOffset(b, lay.shstrndx) + shdr_at::sh_name);
  put32(bytes, sectionHeaderOffset(b, secs[1]) + shdr_at::sh_name, lastName);
  put32(bytes, sectionHeaderOffset(b, secs[4]) + shdr_at::sh_name, lastName);
  Loaded run(std::move(bytes));
  // Artificial counts: three allocated sections taken as unused, so the rebuilt table drops their names.
  run.ctx.sym.sectionRefs[secs[0]] = 0;
  run.ctx.sym.sectionRefs[secs[2]] = 0;
  run.ctx.sym.sectionRefs[secs[3]] = 0;
  std::vector<std::string> names;
  for (uint32_t i = 0; i < zv::sectionCount(run.ctx.input); ++i) names.push_back(zv::sectionNameByIndex(run.ctx, i));
  ASSERT_EQ(names[secs[1]], ".shstrtab");
  uint32_t oldSize = run.ctx.input.sh[lay.shstrndx].sh_size;

  zv::rebuildSectionNames(run.ctx);

  EXPECT_LT(run.ctx.input.sh[lay.shstrndx].sh_size, oldSize);
  for (uint32_t i = 1; i < zv::sectionCount(run.ctx.input); ++i) {
    if (run.ctx.sym.sectionRefs[i] == 0) continue;
    EXPECT_EQ(zv::sectionNameByIndex(run.ctx, i), names[i]) << i;
  }
}

}  // namespace
}  // namespace zv::test
