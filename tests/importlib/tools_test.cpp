// The import library seen from outside: the standard archive and ELF tools
// of the build host read it without complaint, and real modules built by the
// cross toolchain (tests/corpus) give the stubs their export tables describe.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <zlib.h>

#include "elf/image.h"
#include "implib_fixture.h"
#include "importlib/importlib.h"

namespace zv::test {
namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `command` (already quoted) with its output captured in `dir`.
ToolRun runTool(const ScratchDir& dir, const std::string& command) {
  std::string out = dir / "tool.out", err = dir / "tool.err";
  ToolRun r;
  r.status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
  r.out = readText(out);
  r.err = readText(err);
  return r;
}

// The first of `names` found on PATH, or "" when none is.
std::string findTool(std::initializer_list<const char*> names) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  for (const char* name : names) {
    size_t start = 0;
    while (start <= dirs.size()) {
      size_t end = dirs.find(':', start);
      if (end == std::string::npos) end = dirs.size();
      std::string candidate = dirs.substr(start, end - start) + "/" + name;
      if (end > start && fileExists(candidate)) return candidate;
      start = end + 1;
    }
  }
  return "";
}

class StandardTools : public ::testing::Test {
 protected:
  void SetUp() override {
    EnvVar epoch("SOURCE_DATE_EPOCH", "1700000000");
    auto ctx = contextFor(build(makeModule(workedExample()).b));
    ASSERT_EQ(writeLibrary(*ctx), 0u);
    archive = ctx->libraryBytes;
    std::ofstream(dir / "mylib.a", std::ios::binary)
        .write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));
    std::ofstream(dir / "mylib.o", std::ios::binary)
        .write(reinterpret_cast<const char*>(archive.data() + 68), static_cast<std::streamsize>(archive.size() - 68));
  }
  std::vector<uint8_t> archive;
  ScratchDir dir;
};

TEST_F(StandardTools, ArchiverListsOneMember) {
  std::string ar = findTool({"powerpc-linux-gnu-ar", "ar"});
  if (ar.empty()) GTEST_SKIP() << "no ar on PATH; the archive was not checked with it";
  ToolRun r = runTool(dir, "'" + ar + "' t '" + (dir / "mylib.a") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "mylib.vkm.o\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(StandardTools, ElfReaderReadsTheStub) {
  std::string readelf = findTool({"powerpc-linux-gnu-readelf", "readelf"});
  if (readelf.empty()) GTEST_SKIP() << "no readelf on PATH; the stub was not checked with it";
  for (const char* file : {"mylib.o", "mylib.a"}) {
    ToolRun r = runTool(dir, "'" + readelf + "' -a -W '" + (dir / file) + "'");
    EXPECT_EQ(r.status, 0) << file << ": " << r.err;
    EXPECT_EQ(r.err, "") << file;
    EXPECT_EQ(r.out.find("Warning"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(".fimport_mylib.vkm"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(".dimport_mylib.vkm"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("REL (Relocatable file)"), std::string::npos) << r.out;
  }
}

TEST_F(StandardTools, SymbolListerSeesTheExports) {
  std::string nm = findTool({"powerpc-linux-gnu-nm", "nm"});
  if (nm.empty()) GTEST_SKIP() << "no nm on PATH; the stub was not checked with it";
  ToolRun r = runTool(dir, "'" + nm + "' '" + (dir / "mylib.o") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const char* name : {" alpha\n", " beta\n", " gamma\n", " counter\n"})
    EXPECT_NE(r.out.find(name), std::string::npos) << name << " missing in:\n" << r.out;
}

// Real modules: the stub's symbols are the export tables' names, in order,
// with the types their relocations give.
struct CorpusCase {
  const char* file;
  const char* outputPath;
  std::vector<std::string> funcs;
  std::vector<std::pair<std::string, uint8_t>> data;
};

// The signature word the corpus modules carry in an export table: the CRC-32
// of the exported names in entry order, each with its zero byte, then 14 zero
// bytes (what an importer's signature comes to when the tool lays it out).
uint32_t exportSignature(const std::vector<std::string>& names) {
  std::string bytes;
  for (const auto& n : names) bytes += n + '\0';
  bytes.append(14, '\0');
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

void PrintTo(const CorpusCase& c, std::ostream* os) { *os << c.file; }

class Corpus : public ::testing::TestWithParam<CorpusCase> {};
INSTANTIATE_TEST_SUITE_P(
    Modules, Corpus,
    ::testing::Values(CorpusCase{"basic.elf", "/o/basic.vkm", {"basic_add", "basic_lookup"}, {{"basic_counter", 0x11}}},
                      CorpusCase{"tls.elf", "/o/TLS.vkm", {"tls_bump"}, {{"tls_counter", 0x16}, {"tls_plain", 0x11}}}),
    [](const auto& p) { return std::string(p.param.file).substr(0, std::string(p.param.file).find('.')); });

TEST_P(Corpus, StubDescribesTheExports) {
  const CorpusCase& c = GetParam();
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(zv::readWholeFile(std::string(ZV_SOURCE_DIR) + "/tests/corpus/" + c.file, bytes));
  EnvVar epoch("SOURCE_DATE_EPOCH", "1700000000");
  auto ctx = contextFor(std::move(bytes), c.outputPath);
  ASSERT_EQ(writeLibrary(*ctx), 0u) << ctx->con.text;
  EXPECT_EQ(ctx->con.text, "");
  Stub s = readStub(ctx->libraryBytes);
  std::string lib = zv::importLibraryName(c.outputPath);
  EXPECT_EQ(s.sectionName(1), ".fimport_" + lib);
  EXPECT_EQ(s.sectionName(2), ".dimport_" + lib);
  EXPECT_EQ(get32(s.obj, s.shdr(1, shdr_at::sh_offset)), c.funcs.size());
  EXPECT_EQ(get32(s.obj, s.shdr(1, shdr_at::sh_offset) + 4), exportSignature(c.funcs));
  EXPECT_EQ(get32(s.obj, s.shdr(2, shdr_at::sh_offset)), c.data.size());
  std::vector<std::string> dataNames;
  for (const auto& d : c.data) dataNames.push_back(d.first);
  EXPECT_EQ(get32(s.obj, s.shdr(2, shdr_at::sh_offset) + 4), exportSignature(dataNames));
  uint32_t strtab = s.shdr(4, shdr_at::sh_offset);
  uint32_t i = 1;
  for (const std::string& f : c.funcs) {
    EXPECT_EQ(s.cstring(strtab + s.symbol(i, sym_at::st_name)), f);
    EXPECT_EQ(s.symbol(i, sym_at::st_info), 0x12u);
    ++i;
  }
  for (const auto& [name, info] : c.data) {
    EXPECT_EQ(s.cstring(strtab + s.symbol(i, sym_at::st_name)), name);
    EXPECT_EQ(s.symbol(i, sym_at::st_info), info);
    EXPECT_EQ(s.symbol(i, sym_at::st_shndx), 2u);
    ++i;
  }
  EXPECT_EQ(s.shdr(3, shdr_at::sh_size), 16 * i);
}

}  // namespace
}  // namespace zv::test
