// The test ELF maker: turns an ElfBuilder description into the bytes of an
// ELF32 file. The work is done in two steps. A plan fixes the contents of
// every section (generating the name table, the symbol and string tables and
// the relocation entries) and where each piece lands in the file; the writer
// then lays the contents, the program headers, the section headers and the
// ELF header into a zero-filled buffer, in that order, applying the header
// overrides last.

#include "support/elf_builder.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <utility>

namespace zv::test {

namespace {

// ---------------------------------------------------------------------------
// Byte-order helpers over a growing buffer.

void append16(std::vector<uint8_t>& out, uint16_t v, bool be) {
  uint8_t hi = static_cast<uint8_t>(v >> 8);
  uint8_t lo = static_cast<uint8_t>(v);
  out.push_back(be ? hi : lo);
  out.push_back(be ? lo : hi);
}

void append32(std::vector<uint8_t>& out, uint32_t v, bool be) {
  for (int i = 0; i < 4; ++i) {
    int shift = be ? 24 - 8 * i : 8 * i;
    out.push_back(static_cast<uint8_t>(v >> shift));
  }
}

void checkRange(size_t have, uint64_t offset, uint64_t width) {
  if (offset > have || width > have - offset) {
    throw std::out_of_range("elf_builder: field at offset " + std::to_string(offset) + " lies outside " +
                            std::to_string(have) + " bytes");
  }
}

uint64_t alignUp(uint64_t v, uint32_t align) {
  uint64_t a = align == 0 ? 1 : align;
  return (v + a - 1) / a * a;
}

uint32_t toOffset(uint64_t v) {
  if (v > 0xFFFFFFFFu) throw std::logic_error("elf_builder: file exceeds 4 GiB");
  return static_cast<uint32_t>(v);
}

// ---------------------------------------------------------------------------
// Generated section contents.

// The name of each section as an offset into a table that starts with a
// zero byte; empty names share that byte.
std::vector<uint8_t> nameTable(const std::vector<std::string>& names, std::vector<uint32_t>& offsets) {
  std::vector<uint8_t> table{0};
  offsets.clear();
  for (const std::string& n : names) {
    if (n.empty()) {
      offsets.push_back(0);
      continue;
    }
    offsets.push_back(static_cast<uint32_t>(table.size()));
    table.insert(table.end(), n.begin(), n.end());
    table.push_back(0);
  }
  return table;
}

std::vector<uint8_t> symbolTable(const ElfBuilder& b, const Section& s, const std::vector<uint32_t>& nameOffsets) {
  uint32_t spacing = std::max(s.entsize, kSymSize);
  std::vector<uint8_t> out;
  for (size_t i = 0; i < b.symbols.size(); ++i) {
    const Symbol& sym = b.symbols[i];
    size_t start = out.size();
    append32(out, sym.st_name.value_or(nameOffsets[i]), b.bigEndian);
    append32(out, sym.value, b.bigEndian);
    append32(out, sym.size, b.bigEndian);
    out.push_back(sym.info);
    out.push_back(sym.other);
    append16(out, sym.shndx, b.bigEndian);
    out.resize(start + spacing, 0);
  }
  return out;
}

std::vector<uint8_t> relocTable(const Section& s, bool be) {
  bool rela = s.kind == SectionKind::kRela;
  uint32_t spacing = std::max(s.entsize, rela ? kRelaSize : kRelSize);
  std::vector<uint8_t> out;
  for (const Reloc& r : s.relocs) {
    size_t start = out.size();
    append32(out, r.r_offset, be);
    append32(out, r.r_info, be);
    if (rela) append32(out, static_cast<uint32_t>(r.r_addend), be);
    out.resize(start + spacing, 0);
  }
  return out;
}

uint32_t firstGlobal(const ElfBuilder& b) {
  for (size_t i = 1; i < b.symbols.size(); ++i) {
    if ((b.symbols[i].info >> 4) != kStbLocal) return static_cast<uint32_t>(i);
  }
  return static_cast<uint32_t>(b.symbols.size());
}

// ---------------------------------------------------------------------------
// The plan: the final section list, each section's bytes and header values,
// and where everything goes.

struct Plan {
  ElfBuilder b;
  std::vector<std::vector<uint8_t>> contents;
  std::vector<uint32_t> nameOffsets;
  Layout layout;
};

bool hasShstrtab(const ElfBuilder& b) {
  return std::any_of(b.sections.begin(), b.sections.end(),
                     [](const Section& s) { return s.kind == SectionKind::kShstrtab; });
}

void fillContents(Plan& p) {
  std::vector<std::string> secNames;
  for (const Section& s : p.b.sections) secNames.push_back(s.name);
  std::vector<uint8_t> shstr = nameTable(secNames, p.nameOffsets);

  std::vector<std::string> symNames;
  for (const Symbol& s : p.b.symbols) symNames.push_back(s.name);
  std::vector<uint32_t> symNameOffsets;
  std::vector<uint8_t> str = nameTable(symNames, symNameOffsets);

  for (const Section& s : p.b.sections) {
    switch (s.kind) {
      case SectionKind::kPlain:
        p.contents.push_back(s.data);
        break;
      case SectionKind::kShstrtab:
        p.contents.push_back(shstr);
        break;
      case SectionKind::kStrtab:
        p.contents.push_back(str);
        break;
      case SectionKind::kSymtab:
        p.contents.push_back(symbolTable(p.b, s, symNameOffsets));
        break;
      case SectionKind::kRela:
      case SectionKind::kRel:
        p.contents.push_back(relocTable(s, p.b.bigEndian));
        break;
    }
  }
}

// Section contents in index order after `cursor`; explicitly placed ones
// where they are told. Returns the end of the furthest item.
uint64_t placeSections(Plan& p, uint64_t cursor) {
  uint64_t end = cursor;
  for (size_t i = 0; i < p.b.sections.size(); ++i) {
    const Section& s = p.b.sections[i];
    bool nobits = s.type == kShtNobits;
    uint64_t fileBytes = nobits ? 0 : p.contents[i].size();
    p.layout.size.push_back(toOffset(nobits ? s.nobitsSize : fileBytes));
    uint64_t at;
    if (s.placeAt) {
      at = *s.placeAt;
    } else if (i == 0) {
      at = 0;  // the null section claims no bytes
    } else {
      at = alignUp(cursor, std::max<uint32_t>(1, s.addralign));
      if (!nobits) cursor = at + fileBytes;
    }
    p.layout.dataOffset.push_back(toOffset(at));
    if (fileBytes != 0) end = std::max(end, at + fileBytes);
  }
  return std::max(end, cursor);
}

Plan makePlan(const ElfBuilder& src) {
  Plan p{src, {}, {}, {}};
  if (p.b.autoShstrtab && !hasShstrtab(p.b)) addShstrtab(p.b);
  fillContents(p);
  for (size_t i = 0; i < p.b.sections.size(); ++i) {
    if (p.b.sections[i].kind == SectionKind::kShstrtab) {
      p.layout.shstrndx = static_cast<uint16_t>(i);
      break;
    }
  }
  uint64_t phBytes = uint64_t{kPhdrSize} * p.b.phdrs.size();
  uint64_t cursor = kEhdrSize;
  uint64_t end = cursor;
  if (!p.b.phdrs.empty()) {
    p.layout.phoff = p.b.phdrTableAt.value_or(kEhdrSize);
    if (!p.b.phdrTableAt) cursor += phBytes;
    end = std::max(cursor, p.layout.phoff + phBytes);
  }
  end = std::max(end, placeSections(p, cursor));
  uint64_t shBytes = uint64_t{kShdrSize} * p.b.sections.size();
  uint64_t shoff = p.b.shdrTableAt ? *p.b.shdrTableAt : alignUp(end, 4);
  p.layout.shoff = toOffset(shoff);
  end = std::max(end, shoff + shBytes);
  p.layout.fileSize = toOffset(std::max<uint64_t>(end, p.b.minSize));
  return p;
}

// ---------------------------------------------------------------------------
// Writing the records.

uint32_t sectionInfo(const Plan& p, const Section& s) {
  if (s.kind == SectionKind::kSymtab) return firstGlobal(p.b);
  return s.info;
}

void writeSectionHeader(const Plan& p, size_t i, std::vector<uint8_t>& out) {
  const Section& s = p.b.sections[i];
  const ShdrOverrides& o = s.hdr;
  std::vector<uint8_t> rec;
  bool be = p.b.bigEndian;
  append32(rec, o.sh_name.value_or(p.nameOffsets[i]), be);
  append32(rec, o.sh_type.value_or(s.type), be);
  append32(rec, o.sh_flags.value_or(s.flags), be);
  append32(rec, o.sh_addr.value_or(s.addr), be);
  append32(rec, o.sh_offset.value_or(p.layout.dataOffset[i]), be);
  append32(rec, o.sh_size.value_or(p.layout.size[i]), be);
  append32(rec, o.sh_link.value_or(s.link), be);
  append32(rec, o.sh_info.value_or(sectionInfo(p, s)), be);
  append32(rec, o.sh_addralign.value_or(s.addralign), be);
  append32(rec, o.sh_entsize.value_or(s.entsize), be);
  std::copy(rec.begin(), rec.end(), out.begin() + p.layout.shoff + i * kShdrSize);
}

void writeProgramHeader(const Plan& p, size_t i, std::vector<uint8_t>& out) {
  const ProgramHeader& ph = p.b.phdrs[i];
  std::vector<uint8_t> rec;
  for (uint32_t v : {ph.p_type, ph.p_offset, ph.p_vaddr, ph.p_paddr, ph.p_filesz, ph.p_memsz, ph.p_flags, ph.p_align}) {
    append32(rec, v, p.b.bigEndian);
  }
  std::copy(rec.begin(), rec.end(), out.begin() + p.layout.phoff + i * kPhdrSize);
}

std::array<uint8_t, 16> identBytes(const ElfBuilder& b) {
  std::array<uint8_t, 16> id{0x7F, 'E', 'L', 'F', 1, 2, 1};
  id[ehdr_at::ei_data] = b.bigEndian ? 2 : 1;
  for (size_t i = 0; i < id.size(); ++i) id[i] = b.ehdr.e_ident[i].value_or(id[i]);
  return id;
}

void writeElfHeader(const Plan& p, std::vector<uint8_t>& out) {
  const EhdrOverrides& o = p.b.ehdr;
  bool be = p.b.bigEndian;
  std::array<uint8_t, 16> id = identBytes(p.b);
  std::vector<uint8_t> rec(id.begin(), id.end());
  append16(rec, o.e_type.value_or(2), be);
  append16(rec, o.e_machine.value_or(20), be);
  append32(rec, o.e_version.value_or(1), be);
  append32(rec, o.e_entry.value_or(0), be);
  append32(rec, o.e_phoff.value_or(p.layout.phoff), be);
  append32(rec, o.e_shoff.value_or(p.layout.shoff), be);
  append32(rec, o.e_flags.value_or(0), be);
  append16(rec, o.e_ehsize.value_or(kEhdrSize), be);
  append16(rec, o.e_phentsize.value_or(kPhdrSize), be);
  append16(rec, o.e_phnum.value_or(static_cast<uint16_t>(p.b.phdrs.size())), be);
  append16(rec, o.e_shentsize.value_or(kShdrSize), be);
  append16(rec, o.e_shnum.value_or(static_cast<uint16_t>(p.b.sections.size())), be);
  append16(rec, o.e_shstrndx.value_or(p.layout.shstrndx), be);
  std::copy(rec.begin(), rec.end(), out.begin());
}

// The layout knows one section more than the builder when build() adds the
// section-name table itself.
void checkSectionIndex(const Layout& l, uint16_t index) {
  if (index >= l.dataOffset.size()) {
    throw std::out_of_range("elf_builder: no section " + std::to_string(index));
  }
}

uint16_t addRelocSection(ElfBuilder& b, std::string name, uint16_t target, bool rela) {
  return addSection(b, Section{.name = std::move(name),
                               .type = rela ? kShtRela : kShtRel,
                               .addralign = 4,
                               .entsize = rela ? kRelaSize : kRelSize,
                               .link = b.symtab,
                               .info = target,
                               .kind = rela ? SectionKind::kRela : SectionKind::kRel});
}

}  // namespace

// ---------------------------------------------------------------------------
// Describing a file.

uint8_t stInfo(uint8_t bind, uint8_t type) { return static_cast<uint8_t>((bind << 4) | (type & 0xF)); }

uint32_t rInfo(uint32_t sym, uint8_t type) { return (sym << 8) | type; }

std::vector<uint8_t> words32(std::initializer_list<uint32_t> words, bool bigEndian) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) append32(out, w, bigEndian);
  return out;
}

uint16_t addSection(ElfBuilder& b, Section s) {
  if (b.sections.size() >= 0xFFFF) throw std::logic_error("elf_builder: too many sections");
  b.sections.push_back(std::move(s));
  return static_cast<uint16_t>(b.sections.size() - 1);
}

uint16_t addProgbits(ElfBuilder& b, std::string name, uint32_t flags, uint32_t addr, std::vector<uint8_t> data,
                     uint32_t addralign) {
  return addSection(b, Section{.name = std::move(name),
                               .type = kShtProgbits,
                               .flags = flags,
                               .addr = addr,
                               .addralign = addralign,
                               .data = std::move(data)});
}

uint16_t addNobits(ElfBuilder& b, std::string name, uint32_t flags, uint32_t addr, uint32_t size, uint32_t addralign) {
  return addSection(b, Section{.name = std::move(name),
                               .type = kShtNobits,
                               .flags = flags,
                               .addr = addr,
                               .addralign = addralign,
                               .nobitsSize = size});
}

uint16_t addShstrtab(ElfBuilder& b) {
  return addSection(b, Section{.name = ".shstrtab", .type = kShtStrtab, .kind = SectionKind::kShstrtab});
}

uint16_t addSymtab(ElfBuilder& b) {
  if (b.symtab != 0) throw std::logic_error("elf_builder: .symtab added twice");
  uint16_t sym = addSection(
      b, Section{
             .name = ".symtab", .type = kShtSymtab, .addralign = 4, .entsize = kSymSize, .kind = SectionKind::kSymtab});
  uint16_t str = addSection(b, Section{.name = ".strtab", .type = kShtStrtab, .kind = SectionKind::kStrtab});
  b.sections[sym].link = str;
  b.symtab = sym;
  b.strtab = str;
  return sym;
}

uint32_t addSymbol(ElfBuilder& b, Symbol s) {
  if (b.symtab == 0) throw std::logic_error("elf_builder: addSymbol before addSymtab");
  b.symbols.push_back(std::move(s));
  return static_cast<uint32_t>(b.symbols.size() - 1);
}

uint16_t addRelaSection(ElfBuilder& b, std::string name, uint16_t target) {
  return addRelocSection(b, std::move(name), target, true);
}

uint16_t addRelSection(ElfBuilder& b, std::string name, uint16_t target) {
  return addRelocSection(b, std::move(name), target, false);
}

void addReloc(ElfBuilder& b, uint16_t sec, uint32_t offset, uint32_t sym, uint8_t type, int32_t addend) {
  Section& s = b.sections.at(sec);
  if (s.kind != SectionKind::kRela && s.kind != SectionKind::kRel) {
    throw std::logic_error("elf_builder: section " + std::to_string(sec) + " is not a relocation section");
  }
  s.relocs.push_back(Reloc{offset, rInfo(sym, type), addend});
}

uint32_t addProgramHeader(ElfBuilder& b, ProgramHeader ph) {
  b.phdrs.push_back(ph);
  return static_cast<uint32_t>(b.phdrs.size() - 1);
}

uint16_t findSection(const ElfBuilder& b, std::string_view name) {
  for (size_t i = 0; i < b.sections.size(); ++i) {
    if (b.sections[i].name == name) return static_cast<uint16_t>(i);
  }
  throw std::out_of_range("elf_builder: no section named " + std::string(name));
}

// ---------------------------------------------------------------------------
// Building and looking into the result.

std::vector<uint8_t> build(const ElfBuilder& b) {
  Plan p = makePlan(b);
  std::vector<uint8_t> out(p.layout.fileSize, 0);
  for (size_t i = 0; i < p.b.sections.size(); ++i) {
    if (p.b.sections[i].type == kShtNobits) continue;
    const std::vector<uint8_t>& c = p.contents[i];
    std::copy(c.begin(), c.end(), out.begin() + p.layout.dataOffset[i]);
  }
  for (size_t i = 0; i < p.b.phdrs.size(); ++i) writeProgramHeader(p, i, out);
  for (size_t i = 0; i < p.b.sections.size(); ++i) writeSectionHeader(p, i, out);
  writeElfHeader(p, out);
  return out;
}

Layout layoutOf(const ElfBuilder& b) { return makePlan(b).layout; }

uint32_t sectionHeaderOffset(const ElfBuilder& b, uint16_t index) {
  Layout l = layoutOf(b);
  checkSectionIndex(l, index);
  return l.shoff + index * kShdrSize;
}

uint32_t sectionDataOffset(const ElfBuilder& b, uint16_t index) {
  Layout l = layoutOf(b);
  checkSectionIndex(l, index);
  return l.dataOffset[index];
}

uint32_t programHeaderOffset(const ElfBuilder& b, uint32_t index) {
  if (index >= b.phdrs.size()) {
    throw std::out_of_range("elf_builder: no program header " + std::to_string(index));
  }
  return layoutOf(b).phoff + index * kPhdrSize;
}

uint32_t symbolOffset(const ElfBuilder& b, uint32_t index) {
  if (b.symtab == 0 || index >= b.symbols.size()) {
    throw std::out_of_range("elf_builder: no symbol " + std::to_string(index));
  }
  uint32_t spacing = std::max(b.sections[b.symtab].entsize, kSymSize);
  return sectionDataOffset(b, b.symtab) + index * spacing;
}

void put16(std::vector<uint8_t>& bytes, uint64_t offset, uint16_t value, bool bigEndian) {
  checkRange(bytes.size(), offset, 2);
  std::vector<uint8_t> v;
  append16(v, value, bigEndian);
  std::copy(v.begin(), v.end(), bytes.begin() + static_cast<ptrdiff_t>(offset));
}

void put32(std::vector<uint8_t>& bytes, uint64_t offset, uint32_t value, bool bigEndian) {
  checkRange(bytes.size(), offset, 4);
  std::vector<uint8_t> v;
  append32(v, value, bigEndian);
  std::copy(v.begin(), v.end(), bytes.begin() + static_cast<ptrdiff_t>(offset));
}

uint16_t get16(const std::vector<uint8_t>& bytes, uint64_t offset, bool bigEndian) {
  checkRange(bytes.size(), offset, 2);
  uint16_t a = bytes[offset];
  uint16_t b = bytes[offset + 1];
  return static_cast<uint16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
}

uint32_t get32(const std::vector<uint8_t>& bytes, uint64_t offset, bool bigEndian) {
  uint32_t hi = get16(bytes, offset, bigEndian);
  uint32_t lo = get16(bytes, offset + 2, bigEndian);
  return bigEndian ? (hi << 16) | lo : (lo << 16) | hi;
}

// ---------------------------------------------------------------------------
// The ready-made linked module.

LinkedModule makeLinkedModule(bool bigEndian) {
  LinkedModule m;
  ElfBuilder& b = m.b;
  b.bigEndian = bigEndian;
  b.ehdr.e_entry = 0x02000000;
  // lis r3,module_counter@ha; lwz r3,0(r3); blr; nop
  m.text = addProgbits(b, ".text", kShfAlloc | kShfExecInstr, 0x02000000,
                       words32({0x3C600000, 0x80630000, 0x4E800020, 0x60000000}, bigEndian));
  m.data = addProgbits(b, ".data", kShfAlloc | kShfWrite, 0x10000000, words32({0x0000002A, 0x00000000}, bigEndian));
  m.symtab = addSymtab(b);
  m.strtab = b.strtab;
  m.textSym = addSymbol(b, {.value = 0x02000000, .info = stInfo(kStbLocal, kSttSection), .shndx = m.text});
  m.dataSym = addSymbol(b, {.value = 0x10000000, .info = stInfo(kStbLocal, kSttSection), .shndx = m.data});
  m.funcSym = addSymbol(
      b,
      {.name = "module_main", .value = 0x02000000, .size = 16, .info = stInfo(kStbGlobal, kSttFunc), .shndx = m.text});
  m.objSym = addSymbol(b, {.name = "module_counter",
                           .value = 0x10000000,
                           .size = 4,
                           .info = stInfo(kStbGlobal, kSttObject),
                           .shndx = m.data});
  m.relaText = addRelaSection(b, ".rela.text", m.text);
  addReloc(b, m.relaText, 2, m.objSym, kRPpcAddr16Ha, 0);
  return m;
}

}  // namespace zv::test
