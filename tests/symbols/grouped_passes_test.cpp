// The passes that once walked every symbol for every section — the unused-
// section pass, the old-table stripping and the import layout — now group the
// symbols by section or look sections up by address in one sorted table.
// Here each is run on many random modules beside a plain rendering of the
// rule (every section against every symbol), and the two must agree entry for
// entry and line for line, including tables whose entries overlap.
#include <gtest/gtest.h>

#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "symbol_test_image.h"

namespace zv::test {
namespace {

using zv::Elf32_Sym;

struct Random {
  std::mt19937 gen;
  explicit Random(uint32_t seed) : gen(seed) {}
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(gen() % n); }
  bool chance(uint32_t percent) { return below(100) < percent; }
  template <typename T>
  T pick(const std::vector<T>& v) {
    return v[below(static_cast<uint32_t>(v.size()))];
  }
};

std::vector<Elf32_Sym> allSymbols(zv::Context& ctx) {
  std::vector<Elf32_Sym> out;
  Elf32_Sym s;
  for (uint32_t i = 0; zv::symbolAt(ctx, i, s); ++i) out.push_back(s);
  return out;
}

void expectSameSymbols(zv::Context& a, zv::Context& b) {
  std::vector<Elf32_Sym> x = allSymbols(a), y = allSymbols(b);
  ASSERT_EQ(x.size(), y.size());
  for (size_t i = 0; i < x.size(); ++i) {
    EXPECT_EQ(x[i].st_name, y[i].st_name) << i;
    EXPECT_EQ(x[i].st_value, y[i].st_value) << i;
    EXPECT_EQ(x[i].st_shndx, y[i].st_shndx) << i;
    EXPECT_EQ(x[i].st_info, y[i].st_info) << i;
  }
}

// --- Old-table stripping ---------------------------------------------------------

// A module of sections with clustered, overlapping and wrapping address
// ranges (some empty), and labels in the empty ones.
ElfBuilder strippingModule(Random& r) {
  ElfBuilder b;
  std::vector<uint32_t> addrs = {0, 0x100, 0x180, 0x200, 0x1000, 0xFFFFFF00};
  uint32_t sections = 1 + r.below(30);
  std::vector<uint16_t> empty;
  for (uint32_t k = 0; k < sections; ++k) {
    uint32_t size = r.chance(35) ? 0 : r.pick(std::vector<uint32_t>{1, 0x80, 0x100, 0x1000});
    Section s{.name = ".s" + std::to_string(k),
              .addr = r.pick(addrs) + r.below(3) * 0x40,
              .data = std::vector<uint8_t>(size, 0)};
    uint16_t idx = addSection(b, s);
    if (size == 0) empty.push_back(idx);
  }
  if (r.chance(30)) {  // the null entry as stored may cover addresses too
    b.sections[0].hdr.sh_addr = 0x100;
    b.sections[0].hdr.sh_size = 0x40;
  }
  addSymtab(b);
  std::vector<uint8_t> types = {kSttNotype, kSttObject, kSttFunc, kSttSection, kSttFile};
  uint32_t symbols = r.below(60);
  for (uint32_t k = 0; k < symbols; ++k) {
    uint16_t shndx = empty.empty() || r.chance(20) ? static_cast<uint16_t>(r.below(sections + 3)) : r.pick(empty);
    uint32_t value = r.pick(addrs) + r.pick(std::vector<uint32_t>{0, 1, 0x3F, 0x40, 0x7F, 0x80, 0xFF, 0x100, 0x1000});
    addSymbol(
        b, {.name = "l" + std::to_string(k), .value = value, .info = stInfo(kStbLocal, r.pick(types)), .shndx = shndx});
  }
  return b;
}

// The rule as written: every symbol of an empty section is moved to the
// first non-empty section, by index, whose range holds its value, else cleared.
void stripByRule(zv::Context& ctx) {
  zv::ElfImage& img = ctx.input;
  Elf32_Sym s;
  for (uint32_t i = 1; zv::symbolAt(ctx, i, s); ++i) {
    if (s.st_shndx == 0 || !zv::namesSection(img, s.st_shndx) || img.sh[s.st_shndx].sh_size != 0) continue;
    uint8_t type = s.st_info & 0xF;
    int32_t home = -1;
    for (uint32_t j = 0; type != kSttSection && type != kSttFile && home < 0 && zv::namesSection(img, j); ++j) {
      const zv::Elf32_Shdr& h = img.sh[j];
      if (h.sh_size != 0 && h.sh_addr <= s.st_value && s.st_value < uint64_t(h.sh_addr) + h.sh_size)
        home = static_cast<int32_t>(j);
    }
    if (home >= 0) {
      s.st_shndx = static_cast<uint16_t>(home);
    } else {
      s = Elf32_Sym{};
    }
    EXPECT_TRUE(zv::setSymbolAt(ctx, i, s));
  }
}

TEST(GroupedPasses, OldTableStrippingFindsTheFirstSectionByIndex) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    Random r(seed);
    std::vector<uint8_t> bytes = build(strippingModule(r));
    zv::Context fast, rule;
    loadWithSymbols(fast, bytes);
    loadWithSymbols(rule, bytes);
    zv::stripUnusedSymbols(fast);
    stripByRule(rule);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::vector<Elf32_Sym> x = allSymbols(fast), y = allSymbols(rule);
    ASSERT_EQ(x.size(), y.size());
    for (size_t i = 0; i < x.size(); ++i) {
      EXPECT_EQ(x[i].st_shndx, y[i].st_shndx) << "symbol " << i;
      EXPECT_EQ(isZero(x[i]), isZero(y[i])) << "symbol " << i;
    }
  }
}

// --- Unused-section pass ------------------------------------------------------

// Allocated and unallocated sections, symbols spread over them, relocations
// of .text using some; with `overlapping`, a symbol table whose entries are
// closer than 16 bytes (only a table flagged compressed escapes the parser's
// entry size check), so removing one symbol changes its neighbours.
std::vector<uint8_t> unusedModule(Random& r, bool overlapping) {
  LinkedModule m = makeLinkedModule();
  uint32_t extra = 1 + r.below(12);
  std::vector<uint16_t> secs = {m.text, m.data};
  for (uint32_t k = 0; k < extra; ++k)
    secs.push_back(addProgbits(m.b, ".n" + std::to_string(k), r.chance(30) ? kShfAlloc : 0,
                               r.chance(30) ? 0x10000100 + 0x10 * k : 0, words32({k, k + 1})));
  uint32_t symbols = r.below(40);
  for (uint32_t k = 0; k < symbols; ++k)
    addSymbol(m.b, {.name = "s" + std::to_string(k),
                    .info = stInfo(kStbLocal, kSttNotype),
                    .shndx = r.chance(85) ? r.pick(secs) : static_cast<uint16_t>(0)});
  for (uint32_t k = 0; k < r.below(5); ++k)
    addReloc(m.b, m.relaText, 4 * k, 1 + r.below(static_cast<uint32_t>(m.b.symbols.size()) - 1), kRPpcAddr16Lo);
  if (overlapping) {
    m.b.sections[m.symtab].hdr.sh_flags = kShfVkmCompressed;
    m.b.sections[m.symtab].hdr.sh_entsize = r.pick(std::vector<uint32_t>{1, 3, 4, 5, 15});
    m.b.sections[m.relaText].link = 0;
  }
  std::vector<uint8_t> bytes = build(m.b);
  Layout lay = layoutOf(m.b);
  // Section indices scattered through the (unconverted) table, some with a
  // high byte that a removal clears, so that the entry then names a section.
  if (overlapping)
    for (size_t at = lay.dataOffset[m.symtab]; at + 2 <= lay.dataOffset[m.strtab]; at += 3)
      if (r.chance(50))
        put16(bytes, at, static_cast<uint16_t>(r.pick(secs) | (r.chance(50) ? r.below(256) << 8 : 0)), false);
  return bytes;
}

void runPass(zv::Context& ctx, bool byRule) {
  ctx.opt.verbose = true;
  zv::countSectionReferences(ctx);
  if (!byRule) {
    zv::removeUnusedSections(ctx);
    return;
  }
  zv::ElfImage& img = ctx.input;
  for (uint32_t k = 1; k < zv::sectionCount(img); ++k) {
    const zv::Elf32_Shdr& h = img.sh[k];
    if (h.sh_size == 0 || ctx.sym.sectionRefs[k] != 0 || (h.sh_flags & 2)) continue;
    zv::say(ctx, "Section %d unused \"%s\".\n", static_cast<int>(k), zv::sectionNameByIndex(ctx, k).c_str());
    zv::removeSectionSymbols(ctx, k);
  }
}

TEST(GroupedPasses, UnusedSectionPassMatchesTheWalkPerSection) {
  for (bool overlapping : {false, true}) {
    for (uint32_t seed = 1; seed <= 200; ++seed) {
      Random r(seed);
      std::vector<uint8_t> bytes = unusedModule(r, overlapping);
      zv::Context fast, rule;
      loadWithSymbols(fast, bytes);
      loadWithSymbols(rule, bytes);
      runPass(fast, false);
      runPass(rule, true);
      SCOPED_TRACE("seed " + std::to_string(seed) + (overlapping ? " overlapping" : ""));
      EXPECT_EQ(fast.con.text, rule.con.text);
      expectSameSymbols(fast, rule);
    }
  }
}

// --- Import layout --------------------------------------------------------------

std::vector<uint8_t> importModule(Random& r, bool overlapping) {
  LinkedModule m = makeLinkedModule();
  std::vector<uint16_t> imports;
  uint32_t count = 1 + r.below(6);
  for (uint32_t k = 0; k < count; ++k) {
    std::vector<uint8_t> data(8, 0);
    std::string lib = "lib" + std::to_string(k) + ".vkm";
    data.insert(data.end(), lib.begin(), lib.end());
    data.resize(data.size() + r.below(3) * 8, 0);
    imports.push_back(addSection(m.b, Section{.name = ".fimport_" + lib,
                                              .type = kShtVkmImports,
                                              .flags = kShfAlloc | kShfExecInstr,
                                              .addralign = 4,
                                              .data = data}));
  }
  uint32_t symbols = r.below(30);
  for (uint32_t k = 0; k < symbols; ++k)
    addSymbol(m.b, {.name = "i" + std::to_string(k),
                    .info = stInfo(kStbGlobal, r.chance(15) ? kSttSection : kSttNotype),
                    .shndx = r.chance(80) ? r.pick(imports) : m.data});
  if (overlapping) {
    m.b.sections[m.symtab].hdr.sh_flags = kShfVkmCompressed;
    m.b.sections[m.symtab].hdr.sh_entsize = 2 + r.below(14);
    m.b.sections[m.relaText].link = 0;
  }
  if (overlapping && r.chance(50)) {
    // One import table lies over the symbol table: its count and signature
    // words are written over symbol entries.
    Section& over = m.b.sections[r.pick(imports)];
    over.hdr.sh_offset = layoutOf(m.b).dataOffset[m.symtab] + r.below(40);
    over.hdr.sh_size = 24;
  }
  std::vector<uint8_t> bytes = build(m.b);
  Layout lay = layoutOf(m.b);
  if (overlapping)
    for (size_t at = lay.dataOffset[m.symtab]; at + 2 <= lay.dataOffset[m.strtab]; at += 4)
      if (r.chance(40)) put16(bytes, at, r.pick(imports), false);
  return bytes;
}

// The layout as written: for each import section, in index order, a walk of
// the whole table for its section symbol, another for its imports.
void layOutByRule(zv::Context& ctx, uint32_t k, uint32_t address) {
  uint32_t slot = 0;
  Elf32_Sym s;
  for (uint32_t i = 1; zv::symbolAt(ctx, i, s); ++i) {
    if (s.st_shndx != k || (s.st_info & 0xF) != kSttSection) continue;
    s.st_value = address;
    EXPECT_TRUE(zv::setSymbolAt(ctx, i, s));
    slot = 8;
    break;
  }
  uint32_t crc = 0, n = 0;
  for (uint32_t i = 1; zv::symbolAt(ctx, i, s); ++i) {
    if (s.st_shndx != k || (s.st_info & 0xF) == kSttSection) continue;
    std::string name = zv::symbolName(ctx, s);
    crc = static_cast<uint32_t>(
        crc32(crc, reinterpret_cast<const Bytef*>(name.c_str()), static_cast<uInt>(name.size() + 1)));
    s.st_value = address + slot;
    EXPECT_TRUE(zv::setSymbolAt(ctx, i, s));
    slot += 8;
    ++n;
  }
  static const uint8_t kPad[14] = {};
  crc = static_cast<uint32_t>(crc32(crc, kPad, sizeof kPad));
  // The section's final size: its slots, or the module name at offset 8 with
  // its terminator, rounded up to 8; contents too short get storage of their own.
  std::span<uint8_t> bytes = zv::sectionBytes(ctx.input, k);
  uint64_t nameLength = 0;
  while (8 + nameLength < bytes.size() && bytes[8 + nameLength] != 0) ++nameLength;
  uint64_t size = nameLength + 9 <= slot ? slot : (nameLength + 9 + 7) / 8 * 8;
  if (bytes.size() < 8 || size > bytes.size()) bytes = zv::replaceSectionBytes(ctx.input, k, size);
  zv::storeBE32(bytes.data(), n);
  zv::storeBE32(bytes.data() + 4, crc);
  ctx.input.sh[k].sh_addr = address;
  ctx.input.sh[k].sh_size = static_cast<uint32_t>(size);
}

TEST(GroupedPasses, ImportLayoutMatchesTheWalkPerSection) {
  for (bool overlapping : {false, true}) {
    for (uint32_t seed = 1; seed <= 200; ++seed) {
      Random r(seed);
      std::vector<uint8_t> bytes = importModule(r, overlapping);
      zv::Context fast, rule;
      loadWithSymbols(fast, bytes);
      loadWithSymbols(rule, bytes);
      uint32_t n = zv::sectionCount(fast.input);
      std::vector<uint8_t> isImport(n, 0);
      for (uint32_t k = 1; k < n; ++k) isImport[k] = fast.input.sh[k].sh_type == kShtVkmImports;
      zv::SymbolGroups groups = zv::groupSymbolsBySection(fast, isImport);
      uint32_t address = 0xC0000000;
      for (uint32_t k = 1; k < n; ++k) {
        if (!isImport[k]) continue;
        zv::layoutImportSection(fast, k, address, groups);
        layOutByRule(rule, k, address);
        address += 0x100;
      }
      SCOPED_TRACE("seed " + std::to_string(seed) + (overlapping ? " overlapping" : ""));
      EXPECT_EQ(fast.con.text, rule.con.text);
      expectSameSymbols(fast, rule);
      for (uint32_t k = 1; k < n; ++k) {
        if (!isImport[k]) continue;
        std::span<uint8_t> a = zv::sectionBytes(fast.input, k), b = zv::sectionBytes(rule.input, k);
        ASSERT_GE(a.size(), 8u);
        ASSERT_GE(b.size(), 8u);
        EXPECT_EQ(zv::loadBE32(a.data()), zv::loadBE32(b.data())) << "count of " << k;
        EXPECT_EQ(zv::loadBE32(a.data() + 4), zv::loadBE32(b.data() + 4)) << "signature of " << k;
      }
    }
  }
}

}  // namespace
}  // namespace zv::test
