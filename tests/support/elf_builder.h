// A small in-memory maker of ELF32 files for the tests.
//
// The converter reads the linker's 32-bit PowerPC executables, and most of
// what can go wrong with them is one odd field: an offset that points into a
// header, a symbol outside its section, a relocation aimed at nothing. Rather
// than keeping a binary fixture for every such case, a test describes the file
// here in a few lines, builds it into a byte vector and, where the case needs
// it, bends a header field or patches a byte afterwards.
//
// This maker shares no code with the program under test: it writes every
// record itself, so that it can serve as an independent reference for the
// program's own reader.
//
// How a file is laid out by build():
//   - the ELF header at offset 0 (52 bytes);
//   - the program header table right after it (offset 52), when there are
//     program headers; otherwise e_phoff is 0;
//   - the contents of sections 1, 2, ... in index order, each at the next
//     offset aligned to max(1, sh_addralign); SHT_NOBITS sections take an
//     offset but no room;
//   - the section header table, aligned to 4;
//   - zero padding up to `minSize` (512 by default, since the program refuses
//     files of 260 bytes or less; set 0 to get the file at its natural size).
// An explicit offset (Section::placeAt, ElfBuilder::phdrTableAt,
// ElfBuilder::shdrTableAt) takes an item out of that sequence: it lands where
// it is told and the items after it are placed as if it were not there.
// Overlaps that result are the test's business; headers are written after the
// section contents, so they win.
//
// Header fields are first computed from the layout, then every field that has
// an override set (ElfBuilder::ehdr, Section::hdr) takes the override's value
// instead. An override changes only what the header says, never where things
// are put: `sec.hdr.sh_offset = 8` makes section `sec` claim offset 8 while
// its bytes stay where the layout put them.
//
// Multi-byte fields of every header, symbol and relocation are written in the
// order chosen by ElfBuilder::bigEndian (most significant byte first by
// default, EI_DATA 2). The bytes of ordinary sections (Section::data) are
// copied as given; words32() makes instruction words in either order.
//
// Example (test code lives in namespace zv::test): a file whose only symbol
// lies past the end of its section.
//
//   ElfBuilder b;
//   uint16_t text = addProgbits(b, ".text",
//       kShfAlloc | kShfExecInstr, 0x02000000,
//       words32({0x38600000, 0x4E800020}));
//   addSymtab(b);
//   uint32_t f = addSymbol(b, {.name = "f", .value = 0x02000004,
//       .size = 8, .info = stInfo(kStbGlobal, kSttFunc),
//       .shndx = text});
//   std::vector<uint8_t> img = build(b);
//   // Patch the symbol's size in the built image instead:
//   put32(img, symbolOffset(b, f) + sym_at::st_size, 4);
//
// Every function throws std::out_of_range or std::logic_error when it is
// misused (an index past a table, a read past the end of an image), which
// GoogleTest reports as a failed test.

#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::test {

// ---------------------------------------------------------------------------
// Constants. Prefixed names so that they never meet the program's own ELF
// constants (or a system header's macros) in a test that includes both.

inline constexpr uint32_t kShtNull = 0;
inline constexpr uint32_t kShtProgbits = 1;
inline constexpr uint32_t kShtSymtab = 2;
inline constexpr uint32_t kShtStrtab = 3;
inline constexpr uint32_t kShtRela = 4;
inline constexpr uint32_t kShtNobits = 8;
inline constexpr uint32_t kShtRel = 9;
inline constexpr uint32_t kShtVkmExports = 0x80000001;
inline constexpr uint32_t kShtVkmImports = 0x80000002;
inline constexpr uint32_t kShtVkmCrcs = 0x80000003;
inline constexpr uint32_t kShtVkmFileInfo = 0x80000004;

inline constexpr uint32_t kShfWrite = 0x1;
inline constexpr uint32_t kShfAlloc = 0x2;
inline constexpr uint32_t kShfExecInstr = 0x4;
inline constexpr uint32_t kShfVkmTls = 0x04000000;
inline constexpr uint32_t kShfVkmCompressed = 0x08000000;

inline constexpr uint16_t kShnUndef = 0;
inline constexpr uint16_t kShnLoReserve = 0xFF00;
inline constexpr uint16_t kShnAbs = 0xFFF1;
inline constexpr uint16_t kShnCommon = 0xFFF2;

inline constexpr uint8_t kSttNotype = 0;
inline constexpr uint8_t kSttObject = 1;
inline constexpr uint8_t kSttFunc = 2;
inline constexpr uint8_t kSttSection = 3;
inline constexpr uint8_t kSttFile = 4;
inline constexpr uint8_t kSttTls = 6;

inline constexpr uint8_t kStbLocal = 0;
inline constexpr uint8_t kStbGlobal = 1;
inline constexpr uint8_t kStbWeak = 2;

inline constexpr uint32_t kPtNull = 0;
inline constexpr uint32_t kPtLoad = 1;
inline constexpr uint32_t kPtTls = 7;

inline constexpr uint8_t kRPpcNone = 0;
inline constexpr uint8_t kRPpcAddr32 = 1;
inline constexpr uint8_t kRPpcAddr16Lo = 4;
inline constexpr uint8_t kRPpcAddr16Hi = 5;
inline constexpr uint8_t kRPpcAddr16Ha = 6;
inline constexpr uint8_t kRPpcRel24 = 10;
inline constexpr uint8_t kRPpcSdaRel16 = 32;
inline constexpr uint8_t kRPpcDtpRel32 = 78;
inline constexpr uint8_t kRPpcEmbSdaI16 = 106;
inline constexpr uint8_t kRPpcEmbSda2I16 = 107;
inline constexpr uint8_t kRPpcEmbSda2Rel = 108;
inline constexpr uint8_t kRPpcEmbSda21 = 109;
inline constexpr uint8_t kRPpcEmbRelSda = 116;

// Sizes of the records as this maker writes them.
inline constexpr uint32_t kEhdrSize = 52;
inline constexpr uint32_t kPhdrSize = 32;
inline constexpr uint32_t kShdrSize = 40;
inline constexpr uint32_t kSymSize = 16;
inline constexpr uint32_t kRelaSize = 12;
inline constexpr uint32_t kRelSize = 8;

// Byte offsets of the fields inside each record, for reading back and
// patching: get32(img, sectionHeaderOffset(b, i) + shdr_at::sh_size).
namespace ehdr_at {
inline constexpr uint32_t e_ident = 0;
inline constexpr uint32_t ei_class = 4;
inline constexpr uint32_t ei_data = 5;
inline constexpr uint32_t ei_version = 6;
inline constexpr uint32_t e_type = 16;
inline constexpr uint32_t e_machine = 18;
inline constexpr uint32_t e_version = 20;
inline constexpr uint32_t e_entry = 24;
inline constexpr uint32_t e_phoff = 28;
inline constexpr uint32_t e_shoff = 32;
inline constexpr uint32_t e_flags = 36;
inline constexpr uint32_t e_ehsize = 40;
inline constexpr uint32_t e_phentsize = 42;
inline constexpr uint32_t e_phnum = 44;
inline constexpr uint32_t e_shentsize = 46;
inline constexpr uint32_t e_shnum = 48;
inline constexpr uint32_t e_shstrndx = 50;
}  // namespace ehdr_at

namespace shdr_at {
inline constexpr uint32_t sh_name = 0;
inline constexpr uint32_t sh_type = 4;
inline constexpr uint32_t sh_flags = 8;
inline constexpr uint32_t sh_addr = 12;
inline constexpr uint32_t sh_offset = 16;
inline constexpr uint32_t sh_size = 20;
inline constexpr uint32_t sh_link = 24;
inline constexpr uint32_t sh_info = 28;
inline constexpr uint32_t sh_addralign = 32;
inline constexpr uint32_t sh_entsize = 36;
}  // namespace shdr_at

namespace phdr_at {
inline constexpr uint32_t p_type = 0;
inline constexpr uint32_t p_offset = 4;
inline constexpr uint32_t p_vaddr = 8;
inline constexpr uint32_t p_paddr = 12;
inline constexpr uint32_t p_filesz = 16;
inline constexpr uint32_t p_memsz = 20;
inline constexpr uint32_t p_flags = 24;
inline constexpr uint32_t p_align = 28;
}  // namespace phdr_at

namespace sym_at {
inline constexpr uint32_t st_name = 0;
inline constexpr uint32_t st_value = 4;
inline constexpr uint32_t st_size = 8;
inline constexpr uint32_t st_info = 12;
inline constexpr uint32_t st_other = 13;
inline constexpr uint32_t st_shndx = 14;
}  // namespace sym_at

namespace rel_at {
inline constexpr uint32_t r_offset = 0;
inline constexpr uint32_t r_info = 4;
inline constexpr uint32_t r_addend = 8;  // SHT_RELA entries only
}  // namespace rel_at

// ---------------------------------------------------------------------------
// The description of a file.

// Values that replace the computed ELF header fields. e_ident is replaced
// byte by byte: `b.ehdr.e_ident[ehdr_at::ei_class] = 2`. Changing EI_DATA
// this way does not change the order the file is written in (that is
// ElfBuilder::bigEndian), which is how a file can lie about its byte order.
struct EhdrOverrides {
  std::array<std::optional<uint8_t>, 16> e_ident{};
  std::optional<uint16_t> e_type{};
  std::optional<uint16_t> e_machine{};
  std::optional<uint32_t> e_version{};
  std::optional<uint32_t> e_entry{};
  std::optional<uint32_t> e_phoff{};
  std::optional<uint32_t> e_shoff{};
  std::optional<uint32_t> e_flags{};
  std::optional<uint16_t> e_ehsize{};
  std::optional<uint16_t> e_phentsize{};
  std::optional<uint16_t> e_phnum{};
  std::optional<uint16_t> e_shentsize{};
  std::optional<uint16_t> e_shnum{};
  std::optional<uint16_t> e_shstrndx{};
};

// Values that replace the computed fields of one section header.
struct ShdrOverrides {
  std::optional<uint32_t> sh_name{};
  std::optional<uint32_t> sh_type{};
  std::optional<uint32_t> sh_flags{};
  std::optional<uint32_t> sh_addr{};
  std::optional<uint32_t> sh_offset{};
  std::optional<uint32_t> sh_size{};
  std::optional<uint32_t> sh_link{};
  std::optional<uint32_t> sh_info{};
  std::optional<uint32_t> sh_addralign{};
  std::optional<uint32_t> sh_entsize{};
};

// Where a section's contents come from. Plain sections carry their bytes in
// Section::data; the other kinds are generated by build() from the names of
// the sections, the symbol list or the section's relocation entries.
enum class SectionKind { kPlain, kShstrtab, kSymtab, kStrtab, kRela, kRel };

// One relocation entry as stored (r_info already combined, see rInfo()).
// r_addend is written only in SHT_RELA sections.
struct Reloc {
  uint32_t r_offset = 0;
  uint32_t r_info = 0;
  int32_t r_addend = 0;
};

// One section. The plain fields become the header fields of the same name;
// sh_offset and sh_size come from the layout (sh_size is data.size(), or
// nobitsSize for SHT_NOBITS). For generated kinds (symbol table, relocation
// sections) `entsize` is also the distance between entries when it is larger
// than the record; a smaller value is only written into the header.
struct Section {
  std::string name{};
  uint32_t type = kShtProgbits;
  uint32_t flags = 0;
  uint32_t addr = 0;
  uint32_t addralign = 1;
  uint32_t entsize = 0;
  uint32_t link = 0;
  uint32_t info = 0;
  std::vector<uint8_t> data{};
  uint32_t nobitsSize = 0;            // sh_size of an SHT_NOBITS section
  std::optional<uint32_t> placeAt{};  // file offset of the contents
  ShdrOverrides hdr{};
  SectionKind kind = SectionKind::kPlain;
  std::vector<Reloc> relocs{};  // entries of a Rela/Rel section
};

// One symbol. st_name is the offset of `name` in .strtab unless `st_name`
// overrides it (to point past the table, for instance).
struct Symbol {
  std::string name{};
  uint32_t value = 0;
  uint32_t size = 0;
  uint8_t info = 0;  // stInfo(bind, type)
  uint8_t other = 0;
  uint16_t shndx = 0;
  std::optional<uint32_t> st_name{};
};

// One program header, written exactly as given.
struct ProgramHeader {
  uint32_t p_type = kPtLoad;
  uint32_t p_offset = 0;
  uint32_t p_vaddr = 0;
  uint32_t p_paddr = 0;
  uint32_t p_filesz = 0;
  uint32_t p_memsz = 0;
  uint32_t p_flags = 0;
  uint32_t p_align = 0;
};

// The whole description. Start from `ElfBuilder b;` (section 0 and symbol 0,
// both null, are already there) and add to it with the functions below; any
// field may also be changed directly before build().
struct ElfBuilder {
  bool bigEndian = true;     // EI_DATA 2; false writes EI_DATA 1
  uint32_t minSize = 512;    // the built file is padded with zeros to this
  bool autoShstrtab = true;  // build() appends ".shstrtab" unless one exists
  EhdrOverrides ehdr{};
  std::optional<uint32_t> phdrTableAt{};  // file offset of the phdr table
  std::optional<uint32_t> shdrTableAt{};  // file offset of the shdr table
  std::vector<Section> sections{Section{.type = kShtNull, .addralign = 0}};
  std::vector<ProgramHeader> phdrs{};
  std::vector<Symbol> symbols{Symbol{}};  // entries of .symtab, 0 is null
  uint16_t symtab = 0;                    // index of .symtab once addSymtab() ran, else 0
  uint16_t strtab = 0;                    // index of .strtab once addSymtab() ran, else 0
};

// Where build() puts things (actual positions, whatever the overrides say).
struct Layout {
  uint32_t phoff = 0;                  // program header table (0 when there is none)
  uint32_t shoff = 0;                  // section header table
  uint32_t fileSize = 0;               // size of the built file, padding included
  uint16_t shstrndx = 0;               // index of the section-name table (0 when none)
  std::vector<uint32_t> dataOffset{};  // per section: where its bytes start
  std::vector<uint32_t> size{};        // per section: sh_size as computed
};

// ---------------------------------------------------------------------------
// Describing a file.

// st_info from a binding (kStb...) and a type (kStt...).
uint8_t stInfo(uint8_t bind, uint8_t type);

// r_info from a symbol index and a relocation type (kRPpc...): sym << 8 | type.
uint32_t rInfo(uint32_t sym, uint8_t type);

// 32-bit words as bytes in the given order, e.g. instructions for .text.
std::vector<uint8_t> words32(std::initializer_list<uint32_t> words, bool bigEndian = true);

// Appends a section and returns its index.
uint16_t addSection(ElfBuilder& b, Section s);

// Shorthands for addSection: a section with contents (SHT_PROGBITS) and one
// that takes memory but no file room (SHT_NOBITS).
uint16_t addProgbits(ElfBuilder& b, std::string name, uint32_t flags, uint32_t addr, std::vector<uint8_t> data,
                     uint32_t addralign = 4);
uint16_t addNobits(ElfBuilder& b, std::string name, uint32_t flags, uint32_t addr, uint32_t size,
                   uint32_t addralign = 4);

// Adds the section-name table at the current index (normally build() appends
// it as the last section by itself). Its index becomes e_shstrndx.
uint16_t addShstrtab(ElfBuilder& b);

// Adds ".symtab" and, right after it, ".strtab" (sh_link of the first names
// the second), and returns the index of ".symtab". Its sh_info is the index
// of the first non-local symbol (the symbol count when all are local); set
// Section::hdr.sh_info to say otherwise. Only one symbol table per builder.
uint16_t addSymtab(ElfBuilder& b);

// Appends a symbol to the table of addSymtab() and returns its index (the
// first one added gets 1). Symbols are written in the order added.
uint32_t addSymbol(ElfBuilder& b, Symbol s);

// Adds a relocation section with 12-byte SHT_RELA or 8-byte SHT_REL entries
// that applies to section `target` (sh_info) and uses the symbol table of
// addSymtab() (sh_link; 0 when there is none yet). Returns its index.
uint16_t addRelaSection(ElfBuilder& b, std::string name, uint16_t target);
uint16_t addRelSection(ElfBuilder& b, std::string name, uint16_t target);

// Appends an entry to relocation section `sec`. The addend is dropped in an
// SHT_REL section.
void addReloc(ElfBuilder& b, uint16_t sec, uint32_t offset, uint32_t sym, uint8_t type, int32_t addend = 0);

// Appends a program header and returns its index. The header holds the values
// given; to cover a section, read sectionDataOffset() after the last header is
// added (each header moves the sections by 32 bytes).
uint32_t addProgramHeader(ElfBuilder& b, ProgramHeader ph);

// Index of the first section with this name; throws when there is none.
// (The automatic ".shstrtab" exists only in the built file, see Layout.)
uint16_t findSection(const ElfBuilder& b, std::string_view name);

// ---------------------------------------------------------------------------
// Building and looking into the result.

// The file as bytes.
std::vector<uint8_t> build(const ElfBuilder& b);

// Where build() puts everything, without building.
Layout layoutOf(const ElfBuilder& b);

// File offsets in the built file of: section i's header, section i's contents,
// program header i, and symbol i's entry in .symtab.
uint32_t sectionHeaderOffset(const ElfBuilder& b, uint16_t index);
uint32_t sectionDataOffset(const ElfBuilder& b, uint16_t index);
uint32_t programHeaderOffset(const ElfBuilder& b, uint32_t index);
uint32_t symbolOffset(const ElfBuilder& b, uint32_t index);

// Reading and patching a built image; each throws std::out_of_range when the
// field does not lie wholly inside `bytes`.
void put16(std::vector<uint8_t>& bytes, uint64_t offset, uint16_t value, bool bigEndian = true);
void put32(std::vector<uint8_t>& bytes, uint64_t offset, uint32_t value, bool bigEndian = true);
uint16_t get16(const std::vector<uint8_t>& bytes, uint64_t offset, bool bigEndian = true);
uint32_t get32(const std::vector<uint8_t>& bytes, uint64_t offset, bool bigEndian = true);

// ---------------------------------------------------------------------------
// A minimal valid linked module, as the linker would hand it over:
//   1 .text      PROGBITS, ALLOC|EXECINSTR, addr 0x02000000, 16 bytes:
//                lis r3,module_counter@ha; lwz r3,0(r3); blr; nop
//   2 .data      PROGBITS, ALLOC|WRITE, addr 0x10000000, 8 bytes
//   3 .symtab    symbols: 1 section .text, 2 section .data (both local),
//                3 "module_main" (global function, .text, size 16),
//                4 "module_counter" (global object, .data, size 4)
//   4 .strtab
//   5 .rela.text one R_PPC_ADDR16_HA at .text offset 2 against
//                "module_counter"
//   .shstrtab is appended by build() (index 6). e_entry is 0x02000000.
// The indices are returned with the builder, so a test can add to it or
// change it before build().
struct LinkedModule {
  ElfBuilder b{};
  uint16_t text = 0;
  uint16_t data = 0;
  uint16_t symtab = 0;
  uint16_t strtab = 0;
  uint16_t relaText = 0;
  uint32_t textSym = 0;  // section symbol of .text
  uint32_t dataSym = 0;  // section symbol of .data
  uint32_t funcSym = 0;  // "module_main"
  uint32_t objSym = 0;   // "module_counter"
};

LinkedModule makeLinkedModule(bool bigEndian = true);

// One change to a linked module before it is built, and the usual ones: a
// section, a symbol or the ELF header of the module, picked by member.
using Describe = std::function<void(LinkedModule&)>;
inline Describe onSection(uint16_t LinkedModule::*which, std::function<void(Section&)> change) {
  return [which, change](LinkedModule& m) { change(m.b.sections[m.*which]); };
}

inline Describe onSymbol(uint32_t LinkedModule::*which, std::function<void(Symbol&)> change) {
  return [which, change](LinkedModule& m) { change(m.b.symbols[m.*which]); };
}

inline Describe onEhdr(std::function<void(EhdrOverrides&)> change) {
  return [change](LinkedModule& m) { change(m.b.ehdr); };
}

// A module with a .rel.data section (one ADDR32 entry against
// module_counter) whose header is then changed.
inline Describe withRel(std::function<void(LinkedModule&, Section&)> change) {
  return [change](LinkedModule& m) {
    uint16_t rel = addRelSection(m.b, ".rel.data", m.data);
    addReloc(m.b, rel, 0, m.objSym, kRPpcAddr32);
    change(m, m.b.sections[rel]);
  };
}

// Three segments: a first one, which takes part in no test, then the two given.
inline Describe withSegments(uint32_t off1, uint32_t size1, uint32_t off2, uint32_t size2) {
  return [=](LinkedModule& m) {
    addProgramHeader(m.b, {.p_type = kPtLoad, .p_offset = 100, .p_filesz = 4});
    addProgramHeader(m.b, {.p_type = kPtLoad, .p_offset = off1, .p_filesz = size1});
    addProgramHeader(m.b, {.p_type = kPtLoad, .p_offset = off2, .p_filesz = size2});
  };
}

// One change to the built bytes of a linked module.
using Patch = std::function<void(const LinkedModule&, std::vector<uint8_t>&)>;

// The built file cut (or extended with zeros) to n bytes.
inline Patch resizeTo(size_t n) {
  return [n](const LinkedModule&, std::vector<uint8_t>& bytes) { bytes.resize(n); };
}

}  // namespace zv::test
