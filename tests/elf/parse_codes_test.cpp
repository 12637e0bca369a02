// Every way the parser refuses a file: a valid linked module is built, one
// thing in it is bent (in the description or in the built bytes), and the
// parse must stop with the code of exactly that fault. Each case runs on the
// big-endian and the little-endian form of the same file. Rows whose code is
// 0 are the near misses that must still be accepted.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "parse_support.h"

namespace zv::test {
namespace {

namespace bad = zv::bad;

struct CodeCase {
  std::string name;
  zv::Status code;
  Describe describe = nullptr;
  Patch patch = nullptr;
};

void PrintTo(const CodeCase& c, std::ostream* os) { *os << c.name; }

const std::vector<CodeCase>& codeCases() {
  static const std::vector<CodeCase> kCases = {
      {"Valid", {}},
      // Symbol tables.
      {"SymtabLinkBeyondSections", bad::kSymLink, onSection(&LinkedModule::symtab, [](Section& s) { s.hdr.sh_link = 99; })},
      {"SymtabLinkNotStrtab", bad::kSymLinkType, onSection(&LinkedModule::symtab, [](Section& s) { s.hdr.sh_link = 1; })},
      {"SymtabShorterThanOneEntry", bad::kSymTooSmall, onSection(&LinkedModule::symtab, [](Section& s) { s.hdr.sh_size = 15; })},
      {"SymbolNameBeyondStrings", bad::kSymName, onSymbol(&LinkedModule::funcSym, [](Symbol& s) { s.st_name = 1000; })},
      {"SymbolShndxBeyondSections", bad::kSymShndx, onSymbol(&LinkedModule::objSym, [](Symbol& s) { s.shndx = 50; })},
      {"ObjectInNullSection", bad::kObjInNull, onSection(&LinkedModule::data, [](Section& s) { s.hdr.sh_type = 0; })},
      {"ObjectPastSectionEnd", bad::kObjOutside, onSymbol(&LinkedModule::objSym, [](Symbol& s) { s.value = 0x10000008; s.size = 1; })},
      {"ObjectBeforeSection", bad::kObjOutside, onSymbol(&LinkedModule::objSym, [](Symbol& s) { s.value = 0x0FFFFFFF; })},
      {"ObjectAtSectionEndEmpty", {}, onSymbol(&LinkedModule::objSym, [](Symbol& s) { s.value = 0x10000008; s.size = 0; })},
      {"FunctionInNullSection", bad::kFuncInNull, onSection(&LinkedModule::text, [](Section& s) { s.hdr.sh_type = 0; })},
      {"FunctionTooLong", bad::kFuncOutside, onSymbol(&LinkedModule::funcSym, [](Symbol& s) { s.size = 17; })},
      {"FunctionSizeWrapsAround", bad::kFuncOutside, onSymbol(&LinkedModule::funcSym, [](Symbol& s) { s.value = 0x02000001; s.size = 0xFFFFFFFF; })},
      {"FunctionInUnallocatedSection", {}, [](LinkedModule& m) {
         m.b.sections[m.text].flags = kShfExecInstr;
         m.b.symbols[m.funcSym].size = 100; }},
      {"AbsoluteObjectNotTested", {}, onSymbol(&LinkedModule::objSym, [](Symbol& s) { s.shndx = kShnAbs; s.value = 0x7FFFFFFF; s.size = 99; })},
      {"SectionSymbolNotTested", {}, onSymbol(&LinkedModule::textSym, [](Symbol& s) { s.shndx = 50; })},
      {"FileSymbolNotTested", {}, onSymbol(&LinkedModule::textSym, [](Symbol& s) { s.info = stInfo(kStbLocal, kSttFile); s.shndx = 50; })},
      {"SymtabEntrySizeBelowRecord", bad::kSymEntsize, onSection(&LinkedModule::symtab, [](Section& s) { s.hdr.sh_entsize = 8; })},
      {"SymtabWideEntries", {}, onSection(&LinkedModule::symtab, [](Section& s) { s.entsize = 24; })},
      {"SymtabWithoutStringsNamesUntested", {}, [](LinkedModule& m) {
         m.b.sections[m.symtab].hdr.sh_link = 0;
         m.b.symbols[m.funcSym].st_name = 5000; }},
      // RELA sections.
      {"RelaShorterThanOneEntry", bad::kRelaTooSmall, onSection(&LinkedModule::relaText, [](Section& s) { s.hdr.sh_size = 11; })},
      {"RelaLinkBeyondSections", bad::kRelaLink, onSection(&LinkedModule::relaText, [](Section& s) { s.link = 99; })},
      {"RelaLinkNotSymtab", bad::kRelaLinkType, onSection(&LinkedModule::relaText, [](Section& s) { s.link = 4; })},
      {"RelaInfoBeyondSections", bad::kRelaInfo, onSection(&LinkedModule::relaText, [](Section& s) { s.info = 99; })},
      {"RelaNullTargetNonZeroEntry", bad::kRelaNull, onSection(&LinkedModule::relaText, [](Section& s) { s.info = 0; })},
      {"RelaNullTargetOddEntrySize", bad::kRelaNull, onSection(&LinkedModule::relaText, [](Section& s) {
         s.info = 0; s.entsize = 13; s.relocs = {Reloc{}}; })},
      {"RelaNullTargetOddEntrySizeUnaligned", {}, onSection(&LinkedModule::relaText, [](Section& s) {
         s.info = 0; s.entsize = 13; s.addralign = 1; s.relocs = {Reloc{}}; })},
      {"RelaSymbolBeyondTable", bad::kRelaSym, onSection(&LinkedModule::relaText, [](Section& s) { s.relocs[0].r_info = rInfo(5, kRPpcAddr32); })},
      {"RelaTypeZeroSymbolBeyondTable", {}, onSection(&LinkedModule::relaText, [](Section& s) { s.relocs[0].r_info = rInfo(5, kRPpcNone); })},
      {"RelaWithoutSymtabUntested", {}, onSection(&LinkedModule::relaText, [](Section& s) {
         s.link = 0; s.info = 99; s.relocs[0].r_info = rInfo(99, kRPpcAddr32); })},
      {"RelaEntrySizeBelowRecord", bad::kRelaEntsize, onSection(&LinkedModule::relaText, [](Section& s) { s.hdr.sh_entsize = 8; })},
      {"RelaSymtabEntrySizeBelowRecord", bad::kRelaSymEntsize, onSection(&LinkedModule::symtab, [](Section& s) {
         s.hdr.sh_size = 0; s.hdr.sh_entsize = 8; })},
      // REL sections.
      {"RelValid", {}, withRel([](LinkedModule&, Section&) {})},
      {"RelShorterThanOneEntry", bad::kRelTooSmall, withRel([](LinkedModule&, Section& s) { s.hdr.sh_size = 7; })},
      {"RelLinkBeyondSections", bad::kRelLink, withRel([](LinkedModule&, Section& s) { s.link = 99; })},
      {"RelLinkNotSymtab", bad::kRelLinkType, withRel([](LinkedModule&, Section& s) { s.link = 4; })},
      {"RelLinkZero", bad::kRelLinkType, withRel([](LinkedModule&, Section& s) { s.link = 0; })},
      {"RelInfoBeyondSections", bad::kRelInfo, withRel([](LinkedModule&, Section& s) { s.info = 99; })},
      {"RelNullTargetNonZeroEntry", bad::kRelNull, withRel([](LinkedModule&, Section& s) { s.info = 0; })},
      {"RelNullTargetOddEntrySize", bad::kRelNull, withRel([](LinkedModule&, Section& s) {
         s.info = 0; s.entsize = 9; s.relocs = {Reloc{}}; })},
      {"RelTypeZeroSymbolBeyondTable", bad::kRelSym, withRel([](LinkedModule&, Section& s) { s.relocs[0].r_info = rInfo(5, kRPpcNone); })},
      {"RelOffsetAtTargetEnd", bad::kRelOffset, withRel([](LinkedModule&, Section& s) { s.relocs[0].r_offset = 8; })},
      {"RelEntrySizeBelowRecord", bad::kRelEntsize, withRel([](LinkedModule&, Section& s) { s.hdr.sh_entsize = 4; })},
      {"RelSymtabEntrySizeBelowRecord", bad::kRelSymEntsize, withRel([](LinkedModule& m, Section&) {
         m.b.sections[m.relaText].link = 0;
         m.b.sections[m.symtab].hdr.sh_size = 0;
         m.b.sections[m.symtab].hdr.sh_entsize = 8; })},
      // ELF header.
      {"File259Bytes", bad::kFileTooSmall, nullptr, resizeTo(259)},
      {"File260Bytes", bad::kEhsizeLarge, nullptr, resizeTo(260)},
      {"BadMagic", bad::kMagic, nullptr, [](const LinkedModule&, std::vector<uint8_t>& b) { b[1] = 'e'; }},
      {"Class64", bad::kClass, onEhdr([](EhdrOverrides& e) { e.e_ident[ehdr_at::ei_class] = 2; })},
      {"IdentVersion2", bad::kIdentVersion, onEhdr([](EhdrOverrides& e) { e.e_ident[ehdr_at::ei_version] = 2; })},
      {"IdentVersion0", {}, onEhdr([](EhdrOverrides& e) { e.e_ident[ehdr_at::ei_version] = 0; })},
      {"MachineZero", bad::kMachine, onEhdr([](EhdrOverrides& e) { e.e_machine = 0; })},
      {"AnyMachine", {}, onEhdr([](EhdrOverrides& e) { e.e_machine = 0xFFFF; })},
      {"Version2", bad::kVersion, onEhdr([](EhdrOverrides& e) { e.e_version = 2; })},
      {"HeaderSizeFillsFile", bad::kEhsizeLarge, [](LinkedModule& m) {
         m.b.ehdr.e_ehsize = static_cast<uint16_t>(layoutOf(m.b).fileSize - 208); }},
      {"HeaderSize51", bad::kEhsizeSmall, onEhdr([](EhdrOverrides& e) { e.e_ehsize = 51; })},
      {"HeaderSizeZeroCounts52", bad::kSecInHeader, [](LinkedModule& m) {
         m.b.ehdr.e_ehsize = 0;
         m.b.sections[m.text].hdr.sh_offset = 51; }},
      {"PhoffInsideHeader", bad::kPhoff, onEhdr([](EhdrOverrides& e) { e.e_phoff = 51; })},
      {"PhoffAtFileEnd", bad::kPhoff, [](LinkedModule& m) { m.b.ehdr.e_phoff = layoutOf(m.b).fileSize; }},
      {"ShoffInsideHeader", bad::kShoff, onEhdr([](EhdrOverrides& e) { e.e_shoff = 51; })},
      {"ShoffAtFileEnd", bad::kShoff, [](LinkedModule& m) { m.b.ehdr.e_shoff = layoutOf(m.b).fileSize; }},
      {"ShstrndxEqualsShnum", bad::kShstrndx, onEhdr([](EhdrOverrides& e) { e.e_shstrndx = 7; })},
      {"PhTablePastEnd", bad::kPhTable, [](LinkedModule& m) {
         addProgramHeader(m.b, {.p_offset = 100, .p_filesz = 4});
         m.b.ehdr.e_phnum = 100; }},
      {"ShTablePastEnd", bad::kShTable, onEhdr([](EhdrOverrides& e) { e.e_shnum = 8; })},
      {"SectionInsideHeader", bad::kSecInHeader, onSection(&LinkedModule::text, [](Section& s) { s.hdr.sh_offset = 40; })},
      {"SectionPastEnd", bad::kSecPastEnd, [](LinkedModule& m) {
         m.b.sections[m.data].hdr.sh_size = layoutOf(m.b).fileSize; }},
      {"EmptySectionAnywhere", {}, onSection(&LinkedModule::data, [](Section& s) {
         s.hdr.sh_offset = 0xFFFFFFF0; s.hdr.sh_size = 0; s.flags = 0; })},
      {"NobitsSectionAnywhere", {}, onSection(&LinkedModule::data, [](Section& s) {
         s.hdr.sh_type = kShtNobits; s.hdr.sh_offset = 0xFFFFFFF0; s.hdr.sh_size = 0x100000; })},
      {"SectionInsidePhTable", bad::kSecInPh, [](LinkedModule& m) {
         addProgramHeader(m.b, {.p_offset = 100, .p_filesz = 4});
         m.b.sections[m.text].hdr.sh_offset = 60; }},
      {"SectionInsideShTable", bad::kSecInSh, [](LinkedModule& m) {
         m.b.sections[m.data].hdr.sh_offset = layoutOf(m.b).shoff + 4; }},
      {"LowerStartsInsideHigher", bad::kSecOverlap, [](LinkedModule& m) {
         m.b.sections[m.text].hdr.sh_offset = layoutOf(m.b).dataOffset[m.data] + 2;
         m.b.sections[m.text].hdr.sh_size = 4; }},
      {"HigherStartsInsideLower", {}, [](LinkedModule& m) {
         m.b.sections[m.data].hdr.sh_offset = layoutOf(m.b).dataOffset[m.text] + 4; }},
      {"SegmentPastEnd", bad::kSegPastEnd, withSegments(0x1F0, 0x1000, 0x100, 0x10)},
      {"FirstSegmentNotTested", {}, [](LinkedModule& m) {
         addProgramHeader(m.b, {.p_offset = 0x1F8, .p_filesz = 0x1000});
         addProgramHeader(m.b, {.p_offset = 0x1F0, .p_filesz = 0x10}); }},
      {"NullSegmentNotTested", {}, [](LinkedModule& m) {
         addProgramHeader(m.b, {.p_offset = 0x100, .p_filesz = 0x10});
         addProgramHeader(m.b, {.p_type = kPtNull, .p_offset = 0x1F0, .p_filesz = 0x1000}); }},
      {"SectionNameTableNotStrtab", bad::kShstrType, onEhdr([](EhdrOverrides& e) { e.e_shstrndx = 1; })},
      {"SectionNameBeyondTable", bad::kSecName, onSection(&LinkedModule::text, [](Section& s) { s.hdr.sh_name = 1000; })},
      {"SegmentStartsInsideLater", bad::kSegOverlap, withSegments(0x104, 0x10, 0x100, 0x10)},
      {"SegmentContainsLater", {}, withSegments(0x100, 0x10, 0x104, 0x10)},
      // Sums that would wrap around in 32 bits, and tables whose stride is
      // shorter than their records: the last record read must lie in the file.
      {"ShTableEndWraps", bad::kShTable, [](LinkedModule& m) {
         m.b.minSize = 0x40000;
         m.b.ehdr.e_shoff = 0x3FFF0;
         m.b.ehdr.e_shentsize = 0xFFFF;
         m.b.ehdr.e_shnum = 0xFFFF; }},
      {"PhTableEndWraps", bad::kPhTable, [](LinkedModule& m) {
         m.b.minSize = 0x40000;
         m.b.ehdr.e_phoff = 0x3FFF0;
         m.b.ehdr.e_phentsize = 0xFFFF;
         m.b.ehdr.e_phnum = 0xFFFF; }},
      {"SectionEndWraps", bad::kSecPastEnd, onSection(&LinkedModule::data, [](Section& s) { s.hdr.sh_size = 0xFFFFFFF0; })},
      {"SectionStartsInsideWrappingSection", bad::kSecOverlap, [](LinkedModule& m) {
         m.b.sections[m.text].hdr.sh_offset = layoutOf(m.b).dataOffset[m.data] + 2;
         m.b.sections[m.text].hdr.sh_size = 4;
         m.b.sections[m.data].hdr.sh_size = 0xFFFFFFF0; }},
      {"SegmentEndWraps", bad::kSegPastEnd, [](LinkedModule& m) {
         addProgramHeader(m.b, {.p_offset = 0x100, .p_filesz = 4});
         addProgramHeader(m.b, {.p_offset = 0x100, .p_filesz = 0xFFFFFFF0}); }},
      {"ShTableShortStrideLastRecordOutside", bad::kShTable, [](LinkedModule& m) {
         Layout l = layoutOf(m.b);
         m.b.ehdr.e_shentsize = 8;
         m.b.ehdr.e_shnum = static_cast<uint16_t>((l.fileSize - l.shoff) / 8); }},
      {"PhTableShortStrideLastRecordOutside", bad::kPhTable, [](LinkedModule& m) {
         addProgramHeader(m.b, {.p_offset = 0x100, .p_filesz = 4});
         m.b.ehdr.e_phentsize = 4;
         m.b.ehdr.e_phnum = static_cast<uint16_t>((layoutOf(m.b).fileSize - kEhdrSize) / 4); }},
      {"NoPhTableWhenPhoffZero", {}, onEhdr([](EhdrOverrides& e) { e.e_phnum = 5; e.e_phentsize = 1; })},
  };
  return kCases;
}

class ParseCodes : public ::testing::TestWithParam<std::tuple<CodeCase, bool>> {};

TEST_P(ParseCodes, StopsWithTheCodeOfTheFault) {
  const auto& [c, bigEndian] = GetParam();
  LinkedModule m = makeLinkedModule(bigEndian);
  if (c.describe) c.describe(m);
  std::vector<uint8_t> bytes = build(m.b);
  if (c.patch) c.patch(m, bytes);
  zv::ElfImage img;
  EXPECT_EQ(hex(parseBytes(bytes, img)), hex(c.code));
}

INSTANTIATE_TEST_SUITE_P(ParseEveryCode, ParseCodes,
                         ::testing::Combine(::testing::ValuesIn(codeCases()), ::testing::Bool()), [](const auto& p) {
                           return std::get<0>(p.param).name + (std::get<1>(p.param) ? "_BE" : "_LE");
                         });

}  // namespace
}  // namespace zv::test
