// Helpers of the import-library tests (see implib_fixture.h): modules with
// export tables, run contexts over them, archive reading and the fake
// archiver.
#include "implib_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/loaded_image.h"

namespace zv::test {

namespace fs = std::filesystem;

std::vector<uint8_t> exportTable(const std::vector<Export>& entries, uint32_t signature, uint32_t firstValue) {
  std::vector<uint8_t> t(8 + 8 * entries.size(), 0);
  put32(t, 0, static_cast<uint32_t>(entries.size()));
  put32(t, 4, signature);
  for (size_t k = 0; k < entries.size(); ++k) {
    put32(t, 8 + 8 * k, firstValue + static_cast<uint32_t>(4 * k));
    uint32_t nameWord = static_cast<uint32_t>(t.size()) | (entries[k].threadLocal ? 0x80000000u : 0u);
    put32(t, 12 + 8 * k, nameWord);
    t.insert(t.end(), entries[k].name.begin(), entries[k].name.end());
    t.push_back(0);
  }
  while (t.size() % 4) t.push_back(0);
  return t;
}

namespace {

constexpr uint32_t kTextAddr = 0x02000000;
constexpr uint32_t kDataAddr = 0x10000000;
constexpr uint32_t kFexportsAddr = 0xC0000000;
constexpr uint32_t kDexportsAddr = 0xC0001000;

std::vector<uint8_t> wordsOf(size_t count, uint32_t word, bool be) {
  std::vector<uint8_t> out(4 * std::max<size_t>(count, 1), 0);
  for (size_t i = 0; i < out.size() / 4; ++i) put32(out, 4 * i, word, be);
  return out;
}

}  // namespace

Module makeModule(const ModuleSpec& shape) {
  Module m;
  ElfBuilder& b = m.b;
  b.bigEndian = shape.bigEndian;
  size_t nf = shape.funcs ? shape.funcs->size() : 0;
  size_t nd = shape.data ? shape.data->size() : 0;
  uint16_t text = addProgbits(b, ".text", kShfAlloc | kShfExecInstr, kTextAddr,
                              wordsOf(std::max<size_t>(nf, 4), 0x60000000, shape.bigEndian));
  uint16_t data = addProgbits(b, ".data", kShfAlloc | kShfWrite, kDataAddr, wordsOf(nd, 0, shape.bigEndian));
  addSymtab(b);
  uint32_t dataSection =
      addSymbol(b, {.name = "", .value = kDataAddr, .info = stInfo(kStbLocal, kSttSection), .shndx = data});
  std::vector<uint32_t> funcSyms, dataSyms;
  for (size_t k = 0; k < nf; ++k)
    funcSyms.push_back(addSymbol(b, {.name = (*shape.funcs)[k].name,
                                     .value = kTextAddr + uint32_t(4 * k),
                                     .size = 4,
                                     .info = stInfo(kStbGlobal, kSttFunc),
                                     .shndx = text}));
  for (size_t k = 0; k < nd; ++k)
    dataSyms.push_back(addSymbol(b, {.name = (*shape.data)[k].name,
                                     .value = kDataAddr + uint32_t(4 * k),
                                     .size = 4,
                                     .info = stInfo(kStbGlobal, kSttObject),
                                     .shndx = data}));
  uint16_t relaText = addRelaSection(b, ".rela.text", text);
  addReloc(b, relaText, kTextAddr + 2, dataSection, kRPpcAddr16Ha);

  if (shape.funcs) {
    m.fexports = addSection(b, Section{.name = ".fexports",
                                       .type = kShtVkmExports,
                                       .flags = kShfAlloc | kShfExecInstr,
                                       .addr = kFexportsAddr,
                                       .addralign = 4,
                                       .data = exportTable(*shape.funcs, shape.funcSignature, kTextAddr)});
    uint16_t rela = addRelaSection(b, ".rela.fexports", m.fexports);
    for (size_t k = 0; k < nf; ++k) addReloc(b, rela, kFexportsAddr + 8 + uint32_t(8 * k), funcSyms[k], kRPpcAddr32);
  }
  if (shape.data) {
    m.dexports = addSection(b, Section{.name = ".dexports",
                                       .type = kShtVkmExports,
                                       .flags = kShfAlloc,
                                       .addr = kDexportsAddr,
                                       .addralign = 4,
                                       .data = exportTable(*shape.data, shape.dataSignature, kDataAddr)});
    if (shape.dataRelocTypes) {
      m.relaDexports = addRelaSection(b, ".rela.dexports", m.dexports);
      for (size_t k = 0; k < shape.dataRelocTypes->size(); ++k)
        addReloc(b, m.relaDexports, kDexportsAddr + 8 + uint32_t(8 * k), dataSyms.at(k), (*shape.dataRelocTypes)[k]);
    }
  }
  return m;
}

ModuleSpec workedExample(bool bigEndian) {
  ModuleSpec s;
  s.funcs = std::vector<Export>{{"alpha"}, {"beta"}, {"gamma", true}};
  s.data = std::vector<Export>{{"counter"}};
  s.dataRelocTypes = std::vector<uint8_t>{kRPpcAddr32};
  s.bigEndian = bigEndian;
  return s;
}

std::unique_ptr<zv::Context> contextFor(std::vector<uint8_t> bytes, const std::string& outputPath, bool inMemory) {
  std::unique_ptr<zv::Context> ctx = loadedContext(std::move(bytes));
  ctx->inMemory = inMemory;
  ctx->opt.outputPath = outputPath;
  return ctx;
}

Stub readStub(const std::vector<uint8_t>& archive) {
  Stub s;
  s.archive = archive;
  if (archive.size() > 68) s.obj.assign(archive.begin() + 68, archive.end());
  s.be = s.obj.size() > 5 && s.obj[5] == 2;
  return s;
}

uint32_t Stub::shdr(uint32_t i, uint32_t field) const { return u32(u32(32) + 40 * i + field); }

uint32_t Stub::symbol(uint32_t i, uint32_t field) const {
  // Symbol tables are section e_shnum - 3 (then .strtab, .secstrtab).
  uint32_t symtab = u16(48) - 3u;
  uint64_t at = uint64_t(shdr(symtab, shdr_at::sh_offset)) + 16 * i + field;
  if (field == sym_at::st_info || field == sym_at::st_other) return obj.at(at);
  if (field == sym_at::st_shndx) return u16(at);
  return u32(at);
}

std::string Stub::cstring(uint64_t off) const {
  std::string s;
  while (off < obj.size() && obj[off]) s.push_back(static_cast<char>(obj[off++]));
  return s;
}

std::string Stub::sectionName(uint32_t i) const {
  uint32_t names = shdr(u16(50), shdr_at::sh_offset);
  return cstring(uint64_t(names) + shdr(i, shdr_at::sh_name));
}

std::string Stub::header() const {
  if (archive.size() < 68) return std::string();
  return std::string(archive.begin() + 8, archive.begin() + 68);
}

void writeFakeArchiver(const std::string& dir, int status) {
  fs::path tool = fs::path(dir) / (zv::kWindowsHost ? "ax.exe" : "ax");
  fs::copy_file(fakeArchiverPath(), tool, fs::copy_options::overwrite_existing);
  std::ofstream(fs::path(dir) / "status.txt") << status << "\n";
}

}  // namespace zv::test
