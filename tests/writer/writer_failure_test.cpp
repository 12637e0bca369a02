// The writer's refusals and its output file on disk: no SDK root, no symbol
// table, zero-filled sections where the loader cannot have them, an output
// that cannot be opened or written; a file that already exists is replaced
// only by a complete new one. Also the verbose listing of the layout.

#include <gtest/gtest.h>

#include <filesystem>

#include "writer_fixture.h"

namespace zv::test {
namespace {

TEST(WriterFailure, NoSdkRoot) {
  EnvVar env("EDBA_ROOT", std::nullopt);
  zv::Context ctx;
  loadModule(ctx, build(makeLinkedModule().b));
  EXPECT_EQ(convertLoaded(ctx), 0xFFFFFFFFu);
  EXPECT_EQ(ctx.con.text, "***Error: EDBA_ROOT is not defined\n");
  EXPECT_TRUE(ctx.outputBytes.empty());
}

TEST(WriterFailure, NoSymbolTable) {
  SdkRoot root;
  ElfBuilder b;
  uint16_t text = addProgbits(b, ".text", kShfAlloc | kShfExecInstr, 0x02000000, words32({0x60000000, 0x4E800020}));
  uint16_t rela = addRelaSection(b, ".rela.text", text);  // no symbol table to link to
  addReloc(b, rela, 0, 0, kRPpcNone);
  zv::Context ctx;
  loadModule(ctx, build(b));
  EXPECT_EQ(convertLoaded(ctx), 0xFFFFFFFFu);
  EXPECT_EQ(ctx.con.text, "***Error: \"mod.elf\" has no symbol table. Cannot make an VKM from it. Return -1.\n");
  EXPECT_TRUE(ctx.outputBytes.empty());
}

struct ZeroFilledCase {
  const char* label;
  uint32_t flags;
  uint32_t addr;
  uint32_t size;
  const char* message;  // %d: the section's index
};

class ZeroFilled : public ::testing::TestWithParam<ZeroFilledCase> {};

INSTANTIATE_TEST_SUITE_P(
    Places, ZeroFilled,
    ::testing::Values(
        ZeroFilledCase{"InCode", kShfAlloc | kShfExecInstr, 0x02000100, 0x40,
                       "*** Error: Placing a zero filled section '.zero'(%d) in the code area is not allowed.\n"},
        ZeroFilledCase{"InCodeEvenWhenEmpty", kShfAlloc | kShfExecInstr, 0x02000100, 0,
                       "*** Error: Placing a zero filled section '.zero'(%d) in the code area is not allowed.\n"},
        ZeroFilledCase{"InLoaderRange", kShfAlloc, 0xC0001000, 0x40,
                       "***Error: Section %d \".zero\" is zero filled but its address (0xC0001000) is in the "
                       "loader range, which is loaded from the file. Return -1.\n"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_P(ZeroFilled, IsRefused) {
  const ZeroFilledCase& c = GetParam();
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  uint16_t zero = addNobits(m.b, ".zero", c.flags, c.addr, c.size);
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  EXPECT_EQ(convertLoaded(ctx), 0xFFFFFFFFu);
  char want[512];
  std::snprintf(want, sizeof want, c.message, zero);
  EXPECT_NE(ctx.con.text.find(want), std::string::npos) << ctx.con.text;
  EXPECT_TRUE(ctx.outputBytes.empty());
}

// A run that writes to disk, into `dir`.
struct DiskRun {
  SdkRoot root;
  zv::Context ctx;
  explicit DiskRun(const std::string& outputPath) {
    loadModule(ctx, build(makeLinkedModule().b));
    ctx.inMemory = false;
    ctx.opt.outputPath = outputPath;
    ctx.opt.outputPathNarrow = outputPath;
    ctx.moduleSettings.relativeOutputPos = 0;
    ctx.moduleSettings.relativeOutputLen = static_cast<uint32_t>(outputPath.size());
  }
};

TEST(OutputFile, WrittenAndReplacesAnOldFile) {
  ScratchDir dir;
  std::string path = dir / "mod.vkm";
  writeText(path, "old contents");
  DiskRun run(path);
  ASSERT_EQ(convertLoaded(run.ctx), 0u) << run.ctx.con.text;
  std::vector<uint8_t> bytes = readFile(path);
  VkmFile f = readVkm(bytes);
  EXPECT_TRUE(f.problems.empty()) << problems(f);
  EXPECT_EQ(f.info.fileName, path);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);  // no temporary left
  EXPECT_TRUE(zv::reloadGeneratedFile(run.ctx).ok()) << run.ctx.con.text;
}

TEST(OutputFile, MissingDirectoryCannotBeOpened) {
  ScratchDir dir;
  DiskRun run(dir / "no/such/dir/mod.vkm");
  EXPECT_EQ(convertLoaded(run.ctx), 0xFFFFFFFFu);
  EXPECT_NE(run.ctx.con.text.find("***Error: Could not open outfile file for writing.\n"), std::string::npos);
}

TEST(OutputFile, EarlierFailureLeavesOldFileAlone) {
  ScratchDir dir;
  std::string path = dir / "mod.vkm";
  writeText(path, "old contents");
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  addNobits(m.b, ".zero", kShfAlloc | kShfExecInstr, 0x02000100, 0x40);
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  ctx.inMemory = false;
  ctx.opt.outputPath = path;
  EXPECT_EQ(convertLoaded(ctx), 0xFFFFFFFFu);
  EXPECT_EQ(readFile(path), std::vector<uint8_t>({'o', 'l', 'd', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't', 's'}));
}

TEST(OutputFile, UnwritableDirectoryLeavesOldFileAlone) {
  ScratchDir dir;
  std::string sub = dir / "ro";
  std::string path = sub + "/mod.vkm";
  writeText(path, "old contents");
  std::filesystem::permissions(sub, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (std::ofstream(sub + "/probe")) GTEST_SKIP() << "the directory stays writable for this user";
  DiskRun run(path);
  EXPECT_EQ(convertLoaded(run.ctx), 0xFFFFFFFFu);
  EXPECT_NE(run.ctx.con.text.find("***Error: Could not open outfile file for writing.\n"), std::string::npos);
  EXPECT_EQ(readFile(path).size(), 12u);
}

TEST(OutputFile, ShortWriteFails) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  DiskRun run("/dev/full");
  EXPECT_EQ(convertLoaded(run.ctx), 0xFFFFFFFFu);
  EXPECT_NE(run.ctx.con.text.find("***Error: Failed writing output file.\n"), std::string::npos) << run.ctx.con.text;
}

std::string flags4(const VkmSection& s) {
  std::string f;
  f += (s.flags & kShfAlloc) ? 'a' : '.';
  f += (s.flags & kShfExecInstr) ? 'x' : '.';
  f += (s.flags & kShfWrite) ? 'w' : '.';
  f += (s.flags & kShfVkmCompressed) ? 'z' : '.';
  return f;
}

// The listing shows every section as it ended up in the file.
TEST(Verbose, ListsEverySectionAsWritten) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  addNobits(m.b, ".bss", kShfAlloc | kShfWrite, 0x10000010, 0x100);
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  ctx.opt.verbose = true;
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  const VkmFile& f = run.vkm;
  const std::string& out = ctx.con.text;
  for (const char* title : {"--DATA------------------\n", "--LOAD------------------\n", "--TEXT------------------\n",
                            "--TEMP------------------\n", "--CRCS------------------\n", "--FILEINFO--------------\n"})
    EXPECT_NE(out.find(title), std::string::npos) << title;
  char line[160];
  for (uint32_t j = 1; j + 2 < f.shnum; ++j) {
    const VkmSection& s = f.sections[j];
    if (s.type == kShtNobits)
      std::snprintf(line, sizeof line, "%02u: t00000008 a%08X m%08X z-------- offset -------- a.%c.\n", j, s.addr,
                    s.size, (s.flags & kShfWrite) ? 'w' : '.');
    else
      std::snprintf(line, sizeof line, "%02u: t%08X a%08X m%08X z%08X offset %08X %s\n", j, s.type, s.addr,
                    static_cast<uint32_t>(f.contents[j].size()), s.size, s.offset, flags4(s).c_str());
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
  }
  for (uint32_t j = f.shnum - 2; j < f.shnum; ++j) {
    const VkmSection& s = f.sections[j];
    std::snprintf(line, sizeof line, "%02u: t%08X a00000000 m%08X z%08X offset %08X ....\n", j, s.type, s.size, s.size,
                  s.offset);
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
  }
  std::snprintf(line, sizeof line, "TrampAdj %08X\n", f.info.trampAdj);
  EXPECT_NE(out.find(line), std::string::npos);
}

}  // namespace
}  // namespace zv::test
