// The old symbol table keeps the linker's symbols in place, so a relocation
// of the module must reach the same address through them as in the input,
// and a name the loader binds must survive string compaction. Checked on
// every real module of tests/corpus (among them end markers in empty
// sections and import names the linker stores inside longer names), with
// the region listing naming every section as the input does.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>

#include "support/elf_builder.h"
#include "support/run_tool.h"
#include "support/vkm_reader.h"

namespace zv::test {
namespace {

constexpr uint32_t kShtRela = 4, kShtImports = 0x80000002;

// The parts of a big-endian input ELF this test compares against.
struct InputElf {
  std::vector<uint8_t> bytes;
  std::vector<std::string> names;
  std::vector<uint32_t> type, addr, offset, size, link, info;

  explicit InputElf(std::vector<uint8_t> b) : bytes(std::move(b)) {
    uint32_t shoff = get32(bytes, 32);
    uint16_t shnum = get16(bytes, 48), shstrndx = get16(bytes, 50);
    for (uint32_t i = 0; i < shnum; ++i) {
      uint64_t h = shoff + 40ull * i;
      type.push_back(get32(bytes, h + 4));
      addr.push_back(get32(bytes, h + 12));
      offset.push_back(get32(bytes, h + 16));
      size.push_back(get32(bytes, h + 20));
      link.push_back(get32(bytes, h + 24));
      info.push_back(get32(bytes, h + 28));
    }
    for (uint32_t i = 0; i < shnum; ++i) names.push_back(str(shstrndx, get32(bytes, shoff + 40ull * i)));
  }
  std::string str(uint32_t sec, uint32_t at) const {
    const char* p = reinterpret_cast<const char*>(bytes.data()) + offset[sec] + at;
    return std::string(p, strnlen(p, size[sec] - at));
  }
  uint32_t symWord(uint32_t symtab, uint32_t sym, uint32_t at) const {
    return get32(bytes, offset[symtab] + 16ull * sym + at);
  }
  uint16_t symShndx(uint32_t symtab, uint32_t sym) const { return get16(bytes, offset[symtab] + 16ull * sym + 14); }
};

struct Case {
  std::string module;
  std::vector<std::string> options;
  friend void PrintTo(const Case& c, std::ostream* os) { *os << c.module << " " << c.options.size() << " options"; }
};

class OldTableMeaning : public ::testing::TestWithParam<Case> {};

TEST_P(OldTableMeaning, RelocationsReachTheSameAddressesAndBoundNamesSurvive) {
  const Case& c = GetParam();
  ScratchDir dir;
  const InputElf in(readFile(sourceDir() + "/tests/corpus/" + c.module + ".elf"));
  writeFile(dir.path + "/m.elf", in.bytes);
  std::vector<std::string> args = c.options;
  for (const char* a : {"-zx", "-v", "-nolib", "m.elf"}) args.push_back(a);
  auto run = runZodavov(args, dir.path, {{"EDBA_ROOT", sourceDir() + "/samples/sdk"}});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find("String not found"), std::string::npos) << run.out;

  // The region listing names each section as the input does.
  std::regex listed("Section (\\d+): \\w+ \"([^\"]*)\"");
  int lines = 0;
  for (std::sregex_iterator m(run.out.begin(), run.out.end(), listed), end; m != end; ++m, ++lines)
    EXPECT_EQ((*m)[2].str(), in.names.at(std::stoul((*m)[1].str()))) << (*m)[0].str();
  EXPECT_GT(lines, 3);

  auto bytes = readFile(dir.path + (fileExists(dir.path + "/m.vkx") ? "/m.vkx" : "/m.vkm"));
  VkmFile out = readVkm(bytes);
  for (const auto& p : out.problems) ADD_FAILURE() << p;
  int outSymtab = vkmFindSection(out, ".symtab");
  ASSERT_GE(outSymtab, 0);
  auto outSyms = vkmSymbols(out, static_cast<uint32_t>(outSymtab));
  uint32_t outStrtab = out.sections[static_cast<uint32_t>(outSymtab)].link;
  int checked = 0;
  for (uint32_t r = 1; r < in.names.size(); ++r) {
    if (in.type[r] != kShtRela || in.size[r] == 0) continue;
    int o = vkmFindSection(out, in.names[r]);
    if (o < 0) continue;  // a relocation section the module does not keep
    auto rels = vkmRelas(out, static_cast<uint32_t>(o));
    ASSERT_EQ(rels.size(), in.size[r] / 12) << in.names[r];
    uint32_t symtab = in.link[r];
    for (uint32_t k = 0; k < rels.size(); ++k) {
      uint32_t s = rels[k].info >> 8;
      uint32_t shndx = in.symShndx(symtab, s);
      ASSERT_LT(s, outSyms.size());
      std::string name = in.str(in.link[symtab], in.symWord(symtab, s, 0));
      if (shndx != 0 && shndx < in.type.size() && in.type[shndx] == kShtImports) {
        // Import slots move to the loader area; the loader binds them by name.
        EXPECT_EQ(vkmString(out, outStrtab, outSyms[s].name), name) << in.names[r] << " #" << k;
        ++checked;
        continue;
      }
      EXPECT_EQ(outSyms[s].value, in.symWord(symtab, s, 4)) << in.names[r] << " #" << k << " " << name;
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

std::vector<Case> cases() {
  std::vector<Case> all;
  for (const char* m :
       {"basic", "imports", "tls", "vkx", "big", "codeonly", "funcexports", "dataexports", "endmarker", "suffixnames"})
    for (std::vector<std::string> o : {std::vector<std::string>{"-old"}, {"-old", "-s"}}) all.push_back({m, o});
  return all;
}

INSTANTIATE_TEST_SUITE_P(Corpus, OldTableMeaning, ::testing::ValuesIn(cases()), [](const auto& p) {
  return p.param.module + (p.param.options.size() > 1 ? "_stripped" : "");
});

}  // namespace
}  // namespace zv::test
