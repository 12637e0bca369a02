// Every class of bad input the tool meets, run the way a build script runs
// it: the executable in a folder, with the SDK root in the environment. Each
// row builds its input from a valid linked module with one thing bent, and
// checks what docs/bad-inputs.md promises: the message, the FAILED line (or
// the usage text for failures while the command line is read), the exit
// status a shell sees, an input file left as it was, and a folder with no
// output file and no temporary file left behind.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>  // FIFOs for the rows about named pipes
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/elf_builder.h"
#include "support/run_tool.h"

namespace zv::test {
namespace {

using Prepare = std::function<void(const std::string& dir)>;

constexpr const char* kInput = "in.elf";
constexpr int32_t kUsage = 0x7FFFFFFF;  // no FAILED line: the usage text follows instead

struct BadInput {
  std::string label{};
  std::vector<std::string> options{};  // before the input file name
  // The message; "@DIR@" stands for the run's folder, "@ADDR@" for an address
  // the run prints that no test can know (the message is checked around it).
  std::string message{};
  int32_t failed = kUsage;  // the FAILED line's value, or kUsage
  Describe describe = nullptr;
  Patch patch = nullptr;
  Prepare prepare = nullptr;                // sets the folder up before the run
  bool noInputFile = false;                 // the input file is not written at all
  uint64_t extendTo = 0;                    // the input file is extended (sparsely) to this size
  bool sdkRoot = true;                      // EDBA_ROOT set
  std::vector<std::string> leftAlone = {};  // entries of the folder that existed before the run
  bool posixOnly = false;                   // its subject (a FIFO, /dev/full) exists only on POSIX hosts
};

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.label; }

void makeFifo(const std::string& path) {
#if !defined(_WIN32)
  if (mkfifo(path.c_str(), 0644) != 0) ADD_FAILURE() << "mkfifo " << path;
#else
  ADD_FAILURE() << "no FIFOs on this host: " << path;
#endif
}

// --- Describing the inputs ----------------------------------------------------

// The section header table copied to the end of the file and followed by
// empty headers up to `count` sections in all.
Patch withSectionCount(uint32_t count) {
  return [count](const LinkedModule& m, std::vector<uint8_t>& bytes) {
    Layout l = layoutOf(m.b);
    uint32_t shnum = get16(bytes, 48);
    std::vector<uint8_t> table(bytes.begin() + l.shoff, bytes.begin() + l.shoff + shnum * 40);
    table.resize(size_t{count} * 40, 0);
    put32(bytes, 32, static_cast<uint32_t>(bytes.size()));
    put16(bytes, 48, static_cast<uint16_t>(count));
    bytes.insert(bytes.end(), table.begin(), table.end());
  };
}

// Sections that share file bytes: `count` data sections, each `size` bytes
// of one block appended to the file and starting 16 bytes after the one
// before (so no section starts inside a later one).
constexpr uint32_t kSharedSections = 4100, kSharedSize = 1u << 20;

Describe withSharedSections() {
  return [](LinkedModule& m) {
    for (uint32_t k = 0; k < kSharedSections; ++k)
      addProgbits(m.b, ".d" + std::to_string(k), kShfAlloc | kShfWrite, 0x10001000, words32({k}));
  };
}

void shareOneBlock(const LinkedModule& m, std::vector<uint8_t>& bytes) {
  const uint32_t block = static_cast<uint32_t>(bytes.size());
  bytes.resize(size_t{block} + kSharedSections * 16 + kSharedSize, 0x5A);
  const uint32_t first = findSection(m.b, ".d0");  // the others follow it
  const uint32_t shoff = get32(bytes, 32);
  for (uint32_t k = 0; k < kSharedSections; ++k) {
    uint32_t header = shoff + (first + k) * 40;
    put32(bytes, header + 16, block + k * 16);
    put32(bytes, header + 20, kSharedSize);
  }
}

// One more relocation in .rela.text.
Describe addTextReloc(uint32_t LinkedModule::*sym, uint8_t type) {
  return [sym, type](LinkedModule& m) { addReloc(m.b, m.relaText, 8, m.*sym, type); };
}

// The contents of an export table with `entries` entries named e0, e1, ...;
// `nameWord` gives each entry's second word from its name offset.
std::vector<uint8_t> exportBytes(uint32_t entries, const std::function<uint32_t(uint32_t)>& nameWord) {
  std::vector<uint8_t> bytes;
  auto word = [&bytes](uint32_t w) {
    for (int s = 24; s >= 0; s -= 8) bytes.push_back(uint8_t(w >> s));
  };
  word(entries);
  word(0x5A5A5A5A);  // signature
  uint32_t nameAt = 8 + 8 * entries;
  for (uint32_t k = 0; k < entries; ++k) {
    word(0);
    word(nameWord(nameAt));
    nameAt += static_cast<uint32_t>(("e" + std::to_string(k)).size()) + 1;
  }
  for (uint32_t k = 0; k < entries; ++k) {
    std::string n = "e" + std::to_string(k);
    bytes.insert(bytes.end(), n.begin(), n.end());
    bytes.push_back(0);
  }
  return bytes;
}

Section exportSection(
    const std::string& name, bool code, uint32_t entries,
    const std::function<uint32_t(uint32_t)>& nameWord = [](uint32_t off) { return off; }) {
  uint32_t flags = kShfAlloc | (code ? kShfExecInstr : 0);
  return Section{.name = name,
                 .type = kShtVkmExports,
                 .flags = flags,
                 .addr = 0xC0000000,
                 .addralign = 4,
                 .data = exportBytes(entries, nameWord)};
}

// An export table (".fexports" or ".dexports") in the loader range. Returns its index.
uint16_t addExportTable(
    LinkedModule& m, const std::string& name, bool code, uint32_t entries,
    std::function<uint32_t(uint32_t)> nameWord = [](uint32_t off) { return off; }) {
  return addSection(m.b, exportSection(name, code, entries, nameWord));
}

// Puts `s` in front of the module's sections as section 1; every section
// index the module holds moves up by one.
void insertFirst(LinkedModule& m, Section s) {
  auto up = [](auto& v) {
    if (v != 0) ++v;
  };
  for (Section& x : m.b.sections) {
    up(x.link);
    if (x.kind == SectionKind::kRela || x.kind == SectionKind::kRel) up(x.info);
  }
  for (Symbol& y : m.b.symbols)
    if (y.shndx < kShnLoReserve) up(y.shndx);
  for (uint16_t* i : {&m.text, &m.data, &m.symtab, &m.strtab, &m.relaText, &m.b.symtab, &m.b.strtab}) up(*i);
  m.b.sections.insert(m.b.sections.begin() + 1, std::move(s));
}

// An export table with a relocation section; relocation k fills entry k's
// value word with symbol `sym` (index into the module's symbols).
Describe exportTable(
    const std::string& name, bool code, std::vector<uint32_t> syms, uint8_t type = kRPpcAddr32,
    std::function<uint32_t(uint32_t)> nameWord = [](uint32_t off) { return off; }) {
  return [=](LinkedModule& m) {
    uint16_t table = addExportTable(m, name, code, static_cast<uint32_t>(syms.size()), nameWord);
    uint16_t rela = addRelaSection(m.b, ".rela" + name, table);
    for (size_t k = 0; k < syms.size(); ++k)
      addReloc(m.b, rela, 0xC0000000 + 8 + 8 * static_cast<uint32_t>(k), syms[k], type);
  };
}

// A global thread-local object in a TLS data section.
uint32_t addTlsObject(LinkedModule& m) {
  uint16_t tdata = addProgbits(m.b, ".tdata", kShfAlloc | kShfWrite | kShfVkmTls, 0x10000100, words32({1, 2}), 8);
  return addSymbol(
      m.b, {.name = "tls_var", .value = 0x10000100, .size = 4, .info = stInfo(kStbGlobal, kSttTls), .shndx = tdata});
}

// --- The table ----------------------------------------------------------------

std::string parseError(uint32_t code) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "*** Error 0x%08X parsing ELF file \"in.elf\"\n", code);
  return buf;
}

BadInput parseRow(std::string label, uint32_t code, Describe d, Patch p = nullptr) {
  return BadInput{.label = std::move(label), .message = parseError(code), .failed = kUsage, .describe = d, .patch = p};
}

std::vector<BadInput> headerAndTableRows() {
  return {
      parseRow("SymtabLinkBeyondSections", 0xBAD00001,
               onSection(&LinkedModule::symtab, [](Section& s) { s.hdr.sh_link = 99; })),
      parseRow("SymtabLinkNotStrtab", 0xBAD00002,
               onSection(&LinkedModule::symtab, [](Section& s) { s.hdr.sh_link = 1; })),
      parseRow("SymtabShorterThanOneEntry", 0xBAD00003,
               onSection(&LinkedModule::symtab, [](Section& s) { s.hdr.sh_size = 15; })),
      parseRow("SymbolNameBeyondStrings", 0xBAD00004,
               onSymbol(&LinkedModule::funcSym, [](Symbol& s) { s.st_name = 1000; })),
      parseRow("SymbolShndxBeyondSections", 0xBAD00005,
               onSymbol(&LinkedModule::objSym, [](Symbol& s) { s.shndx = 50; })),
      parseRow("ObjectInNullSection", 0xBAD00006,
               onSection(&LinkedModule::data, [](Section& s) { s.hdr.sh_type = 0; })),
      parseRow("ObjectOutsideSection", 0xBAD00007,
               onSymbol(&LinkedModule::objSym,
                        [](Symbol& s) {
                          s.value = 0x10000008;
                          s.size = 1;
                        })),
      parseRow("FunctionInNullSection", 0xBAD00008,
               onSection(&LinkedModule::text, [](Section& s) { s.hdr.sh_type = 0; })),
      parseRow("FunctionOutsideSection", 0xBAD00009, onSymbol(&LinkedModule::funcSym, [](Symbol& s) { s.size = 17; })),
      parseRow("RelaShorterThanOneEntry", 0xBAD0000A,
               onSection(&LinkedModule::relaText, [](Section& s) { s.hdr.sh_size = 11; })),
      parseRow("RelaLinkBeyondSections", 0xBAD0000B,
               onSection(&LinkedModule::relaText, [](Section& s) { s.link = 99; })),
      parseRow("RelaLinkNotSymtab", 0xBAD0000C, onSection(&LinkedModule::relaText, [](Section& s) { s.link = 4; })),
      parseRow("RelaInfoBeyondSections", 0xBAD0000D,
               onSection(&LinkedModule::relaText, [](Section& s) { s.info = 99; })),
      parseRow("RelaNullTargetNonZeroEntry", 0xBAD0000E,
               onSection(&LinkedModule::relaText, [](Section& s) { s.info = 0; })),
      parseRow("RelaSymbolBeyondTable", 0xBAD0000F,
               onSection(&LinkedModule::relaText, [](Section& s) { s.relocs[0].r_info = rInfo(5, kRPpcAddr32); })),
      parseRow("RelShorterThanOneEntry", 0xBAD00011, withRel([](LinkedModule&, Section& s) { s.hdr.sh_size = 7; })),
      parseRow("RelLinkBeyondSections", 0xBAD00012, withRel([](LinkedModule&, Section& s) { s.link = 99; })),
      parseRow("RelLinkNotSymtab", 0xBAD00013, withRel([](LinkedModule&, Section& s) { s.link = 4; })),
      parseRow("RelInfoBeyondSections", 0xBAD00014, withRel([](LinkedModule&, Section& s) { s.info = 99; })),
      parseRow("RelNullTargetNonZeroEntry", 0xBAD00015, withRel([](LinkedModule&, Section& s) { s.info = 0; })),
      parseRow("RelSymbolBeyondTable", 0xBAD00016,
               withRel([](LinkedModule&, Section& s) { s.relocs[0].r_info = rInfo(5, kRPpcNone); })),
      parseRow("RelOffsetBeyondTarget", 0xBAD00017,
               withRel([](LinkedModule&, Section& s) { s.relocs[0].r_offset = 8; })),
      parseRow("BadMagic", 0xBAD00019, nullptr, [](const LinkedModule&, std::vector<uint8_t>& b) { b[1] = 'e'; }),
      parseRow("Class64", 0xBAD0001A, onEhdr([](EhdrOverrides& e) { e.e_ident[ehdr_at::ei_class] = 2; })),
      parseRow("IdentVersion2", 0xBAD0001B, onEhdr([](EhdrOverrides& e) { e.e_ident[ehdr_at::ei_version] = 2; })),
      parseRow("MachineZero", 0xBAD0001C, onEhdr([](EhdrOverrides& e) { e.e_machine = 0; })),
      parseRow("Version2", 0xBAD0001D, onEhdr([](EhdrOverrides& e) { e.e_version = 2; })),
      parseRow("HeaderTooLargeForFile", 0xBAD0001E, nullptr, resizeTo(260)),
      parseRow("PhoffInsideHeader", 0xBAD0001F, onEhdr([](EhdrOverrides& e) { e.e_phoff = 51; })),
      parseRow("ShoffInsideHeader", 0xBAD00020, onEhdr([](EhdrOverrides& e) { e.e_shoff = 51; })),
      parseRow("ShstrndxBeyondSections", 0xBAD00021, onEhdr([](EhdrOverrides& e) { e.e_shstrndx = 7; })),
      parseRow("PhTablePastEnd", 0xBAD00022,
               [](LinkedModule& m) {
                 addProgramHeader(m.b, {.p_offset = 100, .p_filesz = 4});
                 m.b.ehdr.e_phnum = 100;
               }),
      parseRow("ShTablePastEnd", 0xBAD00023, onEhdr([](EhdrOverrides& e) { e.e_shnum = 8; })),
      parseRow("SectionInsideHeader", 0xBAD00024,
               onSection(&LinkedModule::text, [](Section& s) { s.hdr.sh_offset = 40; })),
      parseRow("SectionPastEnd", 0xBAD00025,
               [](LinkedModule& m) { m.b.sections[m.data].hdr.sh_size = layoutOf(m.b).fileSize; }),
      parseRow("SectionInsidePhTable", 0xBAD00026,
               [](LinkedModule& m) {
                 addProgramHeader(m.b, {.p_offset = 100, .p_filesz = 4});
                 m.b.sections[m.text].hdr.sh_offset = 60;
               }),
      parseRow("SectionInsideShTable", 0xBAD00027,
               [](LinkedModule& m) { m.b.sections[m.data].hdr.sh_offset = layoutOf(m.b).shoff + 4; }),
      parseRow("SectionStartsInsideLater", 0xBAD00028,
               [](LinkedModule& m) {
                 m.b.sections[m.text].hdr.sh_offset = layoutOf(m.b).dataOffset[m.data] + 2;
                 m.b.sections[m.text].hdr.sh_size = 4;
               }),
      // Tables are converted in place, so two of them may not share bytes.
      parseRow("RelocationsInsideSymbolTable", 0xBAD00028, nullptr,
               [](const LinkedModule& m, std::vector<uint8_t>& b) {
                 put32(b, sectionHeaderOffset(m.b, m.relaText) + 16, symbolOffset(m.b, 1));
               }),
      parseRow("SegmentPastEnd", 0xBAD00029, withSegments(0x1F0, 0x1000, 0x100, 0x10)),
      parseRow("SectionNameTableNotStrtab", 0xBAD0002A, onEhdr([](EhdrOverrides& e) { e.e_shstrndx = 1; })),
      parseRow("SectionNameBeyondTable", 0xBAD0002B,
               onSection(&LinkedModule::text, [](Section& s) { s.hdr.sh_name = 1000; })),
      parseRow("HeaderSize51", 0xBAD0002C, onEhdr([](EhdrOverrides& e) { e.e_ehsize = 51; })),
      parseRow("SymtabEntrySizeBelowRecord", 0xBAD0002D,
               onSection(&LinkedModule::symtab, [](Section& s) { s.hdr.sh_entsize = 8; })),
      parseRow("RelaEntrySizeBelowRecord", 0xBAD0002E,
               onSection(&LinkedModule::relaText, [](Section& s) { s.hdr.sh_entsize = 8; })),
      parseRow("RelaSymtabEntrySizeBelowRecord", 0xBAD0002F,
               onSection(&LinkedModule::symtab,
                         [](Section& s) {
                           s.hdr.sh_size = 0;
                           s.hdr.sh_entsize = 8;
                         })),
      parseRow("RelEntrySizeBelowRecord", 0xBAD00030, withRel([](LinkedModule&, Section& s) { s.hdr.sh_entsize = 4; })),
      parseRow("RelSymtabEntrySizeBelowRecord", 0xBAD00031, withRel([](LinkedModule& m, Section&) {
                 m.b.sections[m.relaText].link = 0;
                 m.b.sections[m.symtab].hdr.sh_size = 0;
                 m.b.sections[m.symtab].hdr.sh_entsize = 8;
               })),
      parseRow("SegmentStartsInsideLater", 0xBAD00032, withSegments(0x104, 0x10, 0x100, 0x10)),
      BadInput{.label = "NoSections",
               .message = "*** Error ELF file \"in.elf\" has no sections. return -1.\n",
               .failed = kUsage,
               .describe = onEhdr([](EhdrOverrides& e) {
                 e.e_shnum = 0;
                 e.e_shstrndx = 0;
               })},
      BadInput{.label = "SectionsNumberedInReservedRange",
               .message = "*** Error ELF file \"in.elf\" has 65281 sections; a module can hold at most 65280. "
                          "return -1.\n",
               .failed = kUsage,
               .patch = withSectionCount(0xFF01)},
      BadInput{.label = "CompressedInputSection",
               .message = "*** Error ELF file \"in.elf\": section 2 is marked compressed, which no linker output is. "
                          "return -1.\n",
               .failed = kUsage,
               .describe = onSection(&LinkedModule::data, [](Section& s) { s.flags |= 0x08000000; })},
      BadInput{.label = "NoRelocations",
               .message = "*** Error \"in.elf\" has no relocations.  Cannot make an VKM from it. Return -1\n",
               .failed = kUsage,
               .describe = onSection(&LinkedModule::relaText, [](Section& s) { s.info = 3; })},
  };
}

const std::string kOut = "@DIR@/in.vkm";

std::vector<BadInput> moduleRows() {
  return {
      // Relocations.
      BadInput{.label = "SdaRelocationInVkm",
               .message = "***Error: VKM uses illegal SDA relocation 109.\n          Reloc sec 5, entry 1.\n"
                          "          Symbol \"$DATA\".\n",
               .failed = -1,
               .describe = addTextReloc(&LinkedModule::objSym, kRPpcEmbSda21)},
      BadInput{.label = "Addr32FromCode",
               .message = "***Error: \"" + kOut +
                          "\", 32-bit reference from code @ 0x02000008 to 0x10000000 ($DATA) is illegal (reloc # 1)\n"
                          "***Error: are illegal (code is not readable).\n",
               .failed = -1,
               .describe = addTextReloc(&LinkedModule::objSym, kRPpcAddr32)},
      BadInput{.label = "SymbolInNonAllocatedSection",
               .message = "***Error: \"" + kOut +
                          "\", Relocation in sec 5, entry 1 uses symbol 'debug_hook' from non-allocated section "
                          "'.comment'.\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     uint16_t comment = addProgbits(m.b, ".comment", 0, 0, words32({1, 2}));
                     uint32_t hook = addSymbol(m.b, {.name = "debug_hook",
                                                     .value = 0,
                                                     .size = 4,
                                                     .info = stInfo(kStbGlobal, kSttFunc),
                                                     .shndx = comment});
                     addReloc(m.b, m.relaText, 8, hook, kRPpcAddr16Lo);
                   }},
      BadInput{.label = "SymbolIndexBeyondTable",
               .message = "***Error: Relocation in sec 7, entry 0 uses symbol index 8 beyond the symbol table "
                          "(5 symbols). Return -1.\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     // A second, larger symbol table that only this relocation section uses.
                     uint16_t big = addSection(m.b, Section{.name = ".symtab2",
                                                            .type = kShtSymtab,
                                                            .addralign = 4,
                                                            .entsize = 16,
                                                            .link = m.strtab,
                                                            .data = std::vector<uint8_t>(16 * 10, 0)});
                     uint16_t rela = addRelaSection(m.b, ".rela.text2", m.text);
                     m.b.sections[rela].link = big;
                     addReloc(m.b, rela, 0x02000006, 8, kRPpcAddr16Lo);
                   }},
      // Export tables (-nolib: the import library reads them first; -old keeps
      // every symbol as it is, so the table's rules see the linker's symbols).
      BadInput{.label = "ExportTableWrongName",
               .options = {"-nolib"},
               .message = "Section 6 \".exports\" of ELF should be either \".fexports\" or \".dexports\". Return -1.\n",
               .failed = -1,
               .describe = exportTable(".exports", false, {4})},
      // The linker's own export list is not loaded, so the rebuilt name table
      // drops its name: the message still names it as the input does.
      BadInput{.label = "ExportTableNameDropped",
               .options = {"-nolib"},
               .message = "Section 6 \".export\" of ELF should be either \".fexports\" or \".dexports\". Return -1.\n",
               .failed = -1,
               .describe = exportTable(".export", false, {4})},
      BadInput{
          .label = "ExportTableTooLarge",
          .options = {"-nolib"},
          .message = "***Error: \".dexports\" sec 7, is too large to load.  Section size is 0x80000000. Return -1.\n",
          .failed = -1,
          .describe =
              [](LinkedModule& m) {
                // The table claims 2 GiB from offset 64. It comes first, since
                // no earlier section may start inside it, and the file is
                // extended (sparsely) to hold it: a file of 2 GiB + 208 bytes
                // or more fails the header check (0xBAD0001E) instead.
                Section table = exportSection(".dexports", false, 1);
                table.hdr.sh_offset = 64;
                table.hdr.sh_size = 0x80000000;
                insertFirst(m, table);
                uint16_t rela = addRelaSection(m.b, ".rela.dexports", 1);
                addReloc(m.b, rela, 0xC0000008, m.objSym, kRPpcAddr32);
              },
          .extendTo = 0x80000040},
      BadInput{.label = "ExportRelocationPastTableEnd",
               .options = {"-nolib"},
               .message = "***Error: \".dexports\" sec 7, can't get its data 0x@ADDR@ or a relocation offset "
                          "0x00000018 is too large for the section 0x00000013. Return -1.\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     exportTable(".dexports", false, {4})(m);
                     addReloc(m.b, findSection(m.b, ".rela.dexports"), 0xC0000010, 4, kRPpcAddr32);
                   }},
      BadInput{.label = "CodeSymbolInDataExports",
               .options = {"-nolib", "-old"},
               .message = "***Error: \".dexports\" sec 7, has reference to a code symbol \"module_main\". Check "
                          "that .def file has this symbol after [CODE]. Return -1.\n",
               .failed = -1,
               .describe = exportTable(".dexports", false, {3})},
      BadInput{.label = "DataSymbolInFunctionExports",
               .options = {"-nolib", "-old"},
               .message = "***Error: \".fexports\" sec 7, has reference to a data symbol \"module_counter\". Check "
                          "that .def file has this symbol after [DATA]. Return -1.\n",
               .failed = -1,
               .describe = exportTable(".fexports", true, {4})},
      BadInput{.label = "TlsExportWithoutFlag",
               .options = {"-nolib", "-old"},
               .message = "***Error: Export symbol \"tls_var\" is unexpectedly a TLS symbol. Clobber and rebuild "
                          "with current vodazed[32|64]. Return -1.\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     uint32_t tls = addTlsObject(m);
                     exportTable(".dexports", false, {tls})(m);
                   }},
      // Export tables as the import library reads them.
      BadInput{.label = "LibraryExportCountMismatch",
               .message = "***Error: numDataExports (2) != numRelaDataExports (1). Return -1\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     uint16_t table = addExportTable(m, ".dexports", false, 2);
                     uint16_t rela = addRelaSection(m.b, ".rela.dexports", table);
                     addReloc(m.b, rela, 0xC0000008, 4, kRPpcAddr32);
                   }},
      BadInput{.label = "LibraryExportRelocationMismatch",
               .message = "***Error: mismatched relocations and .dexports section. Return -1\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     uint16_t table = addExportTable(m, ".dexports", false, 1);
                     uint16_t rela = addRelaSection(m.b, ".rela.dexports", table);
                     addReloc(m.b, rela, 0xC000000C, 4, kRPpcAddr32);
                   }},
      BadInput{.label = "LibraryTlsExportWithoutFlag",
               .message = "***Error: Export symbol \"e0\" is unexpectedly a TLS symbol. Clobber and rebuild with "
                          "current vodazed[32|64]. Return -1.\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     uint32_t tls = addTlsObject(m);
                     exportTable(".dexports", false, {tls}, kRPpcDtpRel32)(m);
                   }},
      BadInput{
          .label = "LibraryExportNameOutsideTable",
          .message = "***Error: \".fexports\" export table is malformed: the name of entry 0 lies outside the "
                     "section. Return -1.\n",
          .failed = -1,
          .describe = [](LinkedModule& m) { addExportTable(m, ".fexports", true, 1, [](uint32_t) { return 999u; }); }},
      // No symbol table.
      BadInput{.label = "NoSymbolTable",
               .message = "***Error: \"in.elf\" has no symbol table. Cannot make an VKM from it. Return -1.\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     m.b.sections[m.symtab].type = kShtProgbits;
                     m.b.sections[m.relaText].link = 0;
                   }},
      // Addresses.
      BadInput{.label = "TextOutsideCodeRange",
               .message = "*** Error: \"" + kOut +
                          "\", Section 1 \".text\" is text but its (VKM adjusted) address (0x10000100) is outside the "
                          "allowed code range (from 0x02000000 to (0x0FFFFFFF)).\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     m.b.sections[m.text].addr = 0x10000100;
                     m.b.symbols[m.textSym].value = 0x10000100;
                     m.b.symbols[m.funcSym].value = 0x10000100;
                   }},
      BadInput{.label = "DataBelowDataRange",
               .message = "*** Error: \"" + kOut +
                          "\", Section 2 \".data\" is data but its (VKM adjusted) address (0x01000000) is outside the "
                          "allowed data range (from 0x10000000 to (0xBFFFFFFF)). Check the .ld and .map file for "
                          "potential overflow.\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     m.b.sections[m.data].addr = 0x01000000;
                     m.b.symbols[m.dataSym].value = 0x01000000;
                     m.b.symbols[m.objSym].value = 0x01000000;
                   }},
      BadInput{.label = "WritableInLoaderRange",
               .message = "*** Error: \"" + kOut +
                          "\", Section 2 \".data\" is writable but its (VKM adjusted) address (0xC0000000) is in the "
                          "loader range (from 0xC0000000 to (0xFFFFFFFF)).\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     m.b.sections[m.data].addr = 0xC0000000;
                     m.b.symbols[m.dataSym].value = 0xC0000000;
                     m.b.symbols[m.objSym].value = 0xC0000000;
                   }},
      BadInput{
          .label = "SectionPastAddressSpace",
          .message = "*** Error: \"" + kOut +
                     "\", Section 6 \".bss\" at 0xB0000000 with size 0x60000000 reaches the end of the 32-bit "
                     "address space.\n",
          .failed = -1,
          .describe = [](LinkedModule& m) { addNobits(m.b, ".bss", kShfAlloc | kShfWrite, 0xB0000000, 0x60000000); }},
      BadInput{.label = "ContentsPastFourGigabytes",  // 4100 sections of 1 MiB sharing one block
               .options = {"-zx"},
               .message = "***Error: The contents of the module would take more than 4 GB once unpacked. Return -1.\n",
               .failed = -1,
               .describe = withSharedSections(),
               .patch = shareOneBlock},
      // Thread-local storage.
      BadInput{.label = "TlsHeaderMismatch",
               .message = "***Error: TLS Program Header does not match TLS sections.\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     addTlsObject(m);
                     addProgramHeader(m.b, {.p_type = kPtTls, .p_vaddr = 0x10000100, .p_memsz = 4, .p_align = 8});
                   }},
      BadInput{.label = "TlsAlignmentNotPowerOfTwo",
               .message = "***Error: TLS Program Header alignment is not a power of two.\n",
               .failed = -1,
               .describe =
                   [](LinkedModule& m) {
                     addTlsObject(m);
                     m.b.sections.back().addralign = 12;
                     addProgramHeader(m.b, {.p_type = kPtTls, .p_vaddr = 0x10000100, .p_memsz = 8, .p_align = 12});
                   }},
      // Region sizes.
      BadInput{.label = "DataLargerThanLimit",
               .options = {"-sizedata", "4", "-sizetext", "4096", "-sizeload", "65536", "-sizetemp", "65536"},
               .message = "Error: " + kOut + " has DATA size of 8 is larger then limit from -sizedata 4\n",
               .failed = -1},
      BadInput{.label = "LimitNotAligned",
               .options = {"-sizedata", "1002", "-sizetext", "4096", "-sizeload", "65536", "-sizetemp", "65536"},
               .message = "Error: \"" + kOut +
                          "\" -sizedata 1002 is not aligned to DATA segment 4 byte alignment "
                          "(try 1004).\n",
               .failed = -1},
      BadInput{
          .label = "PaddingPastFourGigabytes",  // "-5" arrives as 4294967291 percent
          .options = {"-padall", "-5"},
          .message = "Error: \"" + kOut + "\" -padall 4294967291 makes the LOAD size larger than 4 GB. return -1.\n",
          .failed = -1},
      BadInput{.label = "SizeWithoutTheOthers",
               .options = {"-sizedata", "4096"},
               .message = "Error: -sizedata 4096 needs to set -sizetext <n> -sizeload <n> -sizetemp <n>. return -1.\n",
               .failed = -1},
      // Zero-filled code.
      BadInput{
          .label = "ZeroFilledCode",
          .message = "*** Error: Placing a zero filled section '.zero'(6) in the code area is not allowed.\n",
          .failed = -1,
          .describe = [](LinkedModule& m) { addNobits(m.b, ".zero", kShfAlloc | kShfExecInstr, 0x02000100, 0x40); }},
      // The environment and the files.
      BadInput{.label = "NoSdkRoot", .message = "***Error: EDBA_ROOT is not defined\n", .failed = -1, .sdkRoot = false},
      BadInput{.label = "MissingInput",
               .message = "***Error: Could not map in file \"in.elf\". Error 0x80070002\n",
               .failed = kUsage,
               .noInputFile = true},
      BadInput{.label = "EmptyInput",
               .message = "***Error: Could not map in file \"in.elf\". Error 0x80004005\n",
               .failed = kUsage,
               .patch = resizeTo(0)},
      BadInput{.label = "InputIsFifo",  // refused at once; opening it does not wait for a writer
               .message = "***Error: Could not map in file \"in.elf\". Error 0x80004005\n",
               .failed = kUsage,
               .prepare = [](const std::string& dir) { makeFifo(dir + "/in.elf"); },
               .noInputFile = true,
               .leftAlone = {"in.elf"},
               .posixOnly = true},
      BadInput{.label = "InputIsDirectory",
               .message = "***Error: Could not map in file \"in.elf\". Error 0x80070005\n",
               .failed = kUsage,
               .prepare = [](const std::string& dir) { std::filesystem::create_directory(dir + "/in.elf"); },
               .noInputFile = true,
               .leftAlone = {"in.elf"}},
      BadInput{.label = "InputTooSmall",
               .message = "Error: No Elf file found on command line. Return -1.\n",
               .failed = -1,
               .patch = resizeTo(259)},
      BadInput{.label = "OutputPathUnwritable",
               .message = "***Error: Could not open outfile file for writing.\n",
               .failed = -1,
               .prepare = [](const std::string& dir) { std::filesystem::create_directory(dir + "/in.vkm"); },
               .leftAlone = {"in.vkm"}},
      // The input is never written over, whatever name or link leads to it.
      BadInput{.label = "OutputIsTheInput",  // in.vkm is a second name of in.elf
               .message = "***Error: \"" + kOut +
                          "\" is the input file; writing the output there would destroy it. "
                          "Return -1.\n",
               .failed = -1,
               .prepare =
                   [](const std::string& dir) {
                     writeText(dir + "/in.elf", "");
                     std::filesystem::create_hard_link(dir + "/in.elf", dir + "/in.vkm");
                   },
               .leftAlone = {"in.vkm"}},
      BadInput{
          .label = "LibraryIsTheInput",
          .options = {"-l", "in.elf"},
          .message = "***Error: \"in.elf\" is the input file; writing the output there would destroy it. Return -1.\n",
          .failed = -1},
      BadInput{.label = "OutputIsPipeWithoutReader",  // refused at once, not waited on
               .message = "***Error: Could not open outfile file for writing.\n",
               .failed = -1,
               .prepare = [](const std::string& dir) { makeFifo(dir + "/in.vkm"); },
               .leftAlone = {"in.vkm"},
               .posixOnly = true},
      BadInput{.label = "OutputOnFullDisk",
               .message = "***Error: Failed writing output file.\n",
               .failed = -1,
               .prepare = [](const std::string& dir) { std::filesystem::create_symlink("/dev/full", dir + "/in.vkm"); },
               .leftAlone = {"in.vkm"},
               .posixOnly = true},
      BadInput{.label = "LibraryPathUnwritable",
               .options = {"-l", "@DIR@/no/such/folder/in.a"},
               .message = "***Error: Could not open output file for writing.\n",
               .failed = 2,  // ENOENT
               .describe = [](LinkedModule& m) { exportTable(".fexports", true, {3})(m); }},
      BadInput{.label = "LibraryOnFullDisk",
               .options = {"-l", "/dev/full"},
               .message = "*** error seeking in output file.\n",
               .failed = 28,  // ENOSPC
               .describe = [](LinkedModule& m) { exportTable(".fexports", true, {3})(m); },
               .posixOnly = true},
  };
}

std::vector<BadInput> allRows() {
  std::vector<BadInput> rows = headerAndTableRows();
  for (BadInput& r : moduleRows()) rows.push_back(std::move(r));
  return rows;
}

// --- Running a row ------------------------------------------------------------

std::string replaceAll(std::string s, const std::string& what, const std::string& with) {
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
    s.replace(at, what.size(), with);
  return s;
}

std::vector<uint8_t> buildInput(const BadInput& c) {
  LinkedModule m = makeLinkedModule();
  if (c.describe) c.describe(m);
  std::vector<uint8_t> bytes = build(m.b);
  if (c.patch) c.patch(m, bytes);
  return bytes;
}

class BadInputTable : public ::testing::TestWithParam<BadInput> {};

INSTANTIATE_TEST_SUITE_P(Rows, BadInputTable, ::testing::ValuesIn(allRows()),
                         [](const auto& p) { return p.param.label; });

TEST_P(BadInputTable, IsReportedAndLeavesNothingBehind) {
  const BadInput& c = GetParam();
  if (c.posixOnly && zv::kWindowsHost) GTEST_SKIP() << "FIFOs and /dev/full exist only on POSIX hosts";
  ScratchDir dir;
  std::string input = dir.path + "/" + kInput;
  std::vector<uint8_t> bytes;
  if (c.prepare) c.prepare(dir.path);
  if (!c.noInputFile) {
    bytes = buildInput(c);
    writeFile(input, bytes);
    if (c.extendTo) {
      std::filesystem::resize_file(input, c.extendTo);
    }
  }
  std::vector<std::string> args;
  for (const std::string& o : c.options) args.push_back(replaceAll(o, "@DIR@", dir.path));
  args.push_back(kInput);
  std::vector<std::pair<std::string, std::string>> env = {
      {"EDBA_ROOT", c.sdkRoot ? sourceDir() + "/samples/sdk" : "\x01unset"}, {"GHS_ROOT", toolchainRoot()}};
  ToolRun run = runZodavov(args, dir.path, env);

  // The message: "@ADDR@" is checked as eight hexadecimal digits.
  // The tool prints full paths in the host's form ('\\' after the folder on Windows).
  std::string want =
      replaceAll(replaceAll(c.message, "@DIR@/", dir.path + (zv::kWindowsHost ? "\\" : "/")), "@DIR@", dir.path);
  size_t addr = want.find("@ADDR@");
  if (addr == std::string::npos) {
    EXPECT_NE(run.out.find(want), std::string::npos) << "want: " << want << "\ngot: " << run.out;
  } else {
    size_t head = run.out.find(want.substr(0, addr));
    ASSERT_NE(head, std::string::npos) << run.out;
    std::string digits = run.out.substr(head + addr, 8);
    EXPECT_EQ(digits.find_first_not_of("0123456789ABCDEF"), std::string::npos) << digits;
    EXPECT_EQ(run.out.substr(head + addr + 8, want.size() - addr - 6), want.substr(addr + 6)) << run.out;
  }
  // The FAILED line, or the usage text instead of it.
  if (c.failed == kUsage) {
    EXPECT_EQ(run.out.find("FAILED Error"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nUsage:\n"), std::string::npos) << run.out;
  } else {
    std::string line = "\n\n" + zodavovPath() + " FAILED Error = " + std::to_string(c.failed) + "\n";
    EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
  }
  // The exit status a shell sees: the low 8 bits of the value.
  uint32_t value = c.failed == kUsage ? 0 : static_cast<uint32_t>(c.failed);
  if (c.failed == kUsage) {
    // The value behind a usage-text failure is the parse code or the mapping error.
    size_t at = c.message.find("0x");
    value = at == std::string::npos ? 0xFFFFFFFFu
                                    : static_cast<uint32_t>(std::stoul(c.message.substr(at + 2, 8), nullptr, 16));
  }
  EXPECT_EQ(run.status, static_cast<int>(value & 0xFF)) << run.out;

  // The input is unchanged; nothing new is in the folder.
  if (!c.noInputFile && !c.extendTo) {
    EXPECT_EQ(readFile(input), bytes);
  }
  if (c.extendTo) {
    EXPECT_EQ(std::filesystem::file_size(input), c.extendTo);
  }
  std::vector<std::string> expected = c.leftAlone;
  if (!c.noInputFile) expected.push_back(kInput);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(folderEntries(dir.path), expected);
  for (const std::string& name : folderEntries(dir.path)) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

}  // namespace
}  // namespace zv::test
