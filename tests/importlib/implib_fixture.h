// Shared helpers of the import-library tests: a linked module with export
// tables described in a few lines, a run context over it, a reader for the
// archive and the stub object it holds, and a fake archiver that records how
// it was called.
#pragma once

#include "support/run_tool.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/context.h"
#include "driver/driver.h"
#include "importlib/importlib.h"
#include "support/elf_builder.h"

namespace zv::test {

// One export: its name and the thread-local bit of its name word.
struct Export {
  std::string name;
  bool threadLocal = false;
};

// An export table as the linker stores it: count, signature, one (value,
// name offset) pair per entry, then the names. All words big-endian.
std::vector<uint8_t> exportTable(const std::vector<Export>& entries, uint32_t signature, uint32_t firstValue);

// A module with .text, .data, a symbol table and, as asked, .fexports,
// .dexports and .rela.dexports (one relocation per data export, of the type
// given, at the export's value word).
struct ModuleSpec {
  std::optional<std::vector<Export>> funcs;
  std::optional<std::vector<Export>> data;
  std::optional<std::vector<uint8_t>> dataRelocTypes;
  uint32_t funcSignature = 0x11223344;
  uint32_t dataSignature = 0x55667788;
  bool bigEndian = true;
};
struct Module {
  ElfBuilder b;
  uint16_t fexports = 0;
  uint16_t dexports = 0;
  uint16_t relaDexports = 0;
};
Module makeModule(const ModuleSpec& shape);

// The worked example: library mylib.vkm, functions alpha, beta, gamma (gamma
// with the thread-local bit, which functions ignore), data export counter
// with an R_PPC_ADDR32 relocation.
ModuleSpec workedExample(bool bigEndian = true);

// A capturing context over `bytes` with the input parsed as the driver
// leaves it for the import-library stage.
// Writes the import library of a loaded context as a run does: with the
// environment (SOURCE_DATE_EPOCH, GHS_ROOT) as it is now.
inline uint32_t writeLibrary(zv::Context& ctx) {
  ctx.env = zv::readEnvironment();
  return zv::writeImportLibrary(ctx).value();
}

std::unique_ptr<zv::Context> contextFor(std::vector<uint8_t> bytes,
                                        const std::string& outputPath = "/build/out/MyLib.vkm", bool inMemory = true);

// Reading an archive and its member.
struct Stub {
  std::vector<uint8_t> archive;
  std::vector<uint8_t> obj;  // the member, from offset 68
  bool be = true;            // the member's EI_DATA says big-endian
  uint32_t u32(uint64_t off) const { return get32(obj, off, be); }
  uint16_t u16(uint64_t off) const { return get16(obj, off, be); }
  uint32_t shdr(uint32_t i, uint32_t field) const;
  uint32_t symbol(uint32_t i, uint32_t field) const;  // st_info/st_other read as bytes
  std::string sectionName(uint32_t i) const;
  std::string cstring(uint64_t off) const;
  std::string header() const;  // the 60-byte member header as text
};
Stub readStub(const std::vector<uint8_t>& archive);

// Puts the archiver stand-in into `dir` as "ax" (ax.exe on Windows): it
// records its arguments (one a line) in dir/args.txt, copies the library it
// is given to dir/seen.a and exits with `status`.
void writeFakeArchiver(const std::string& dir, int status);

}  // namespace zv::test
