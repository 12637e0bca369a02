// The archive around the stub: the member header's name, date and size
// fields, and the date taken from SOURCE_DATE_EPOCH for reproducible builds.

#include <gtest/gtest.h>

#include <ctime>

#include "implib_fixture.h"
#include "importlib/importlib.h"

namespace zv::test {
namespace {

struct LibRun {
  uint32_t rc = 0;
  std::string text;
  std::vector<uint8_t> archive;
};

LibRun runInMemory(const ModuleSpec& shape, const std::string& outputPath) {
  auto ctx = contextFor(build(makeModule(shape).b), outputPath);
  LibRun r;
  r.rc = writeLibrary(*ctx);
  r.text = ctx->con.text;
  r.archive = ctx->libraryBytes;
  return r;
}

ModuleSpec twoFunctions() {
  ModuleSpec s;
  s.funcs = std::vector<Export>{{"f1"}, {"f2"}};
  return s;
}

class MemberName : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};
INSTANTIATE_TEST_SUITE_P(Lengths, MemberName,
                         ::testing::Values(std::pair<const char*, const char*>{"/o/MyLib.vkm", "mylib.vkm.o/    "},
                                           std::pair<const char*, const char*>{"/o/abcdefghi.vkm", "abcdefghi.vkm.o/"},
                                           std::pair<const char*, const char*>{"/o/AVeryLongName.vkm",
                                                                               "averylongname.o/"}));

TEST_P(MemberName, IsCutToThirteenCharactersAndPadded) {
  EnvVar epoch("SOURCE_DATE_EPOCH", "0");
  LibRun r = runInMemory(twoFunctions(), GetParam().first);
  ASSERT_EQ(r.rc, 0u) << r.text;
  Stub s = readStub(r.archive);
  EXPECT_EQ(std::string(r.archive.begin(), r.archive.begin() + 8), "!<arch>\n");
  EXPECT_EQ(s.header().substr(0, 16), GetParam().second);
  EXPECT_EQ(s.header().substr(16, 12), "0           ");
  EXPECT_EQ(s.header().substr(28, 20), "0     0     100666  ");
  EXPECT_EQ(s.header().substr(58), "`\n");
  // The member's whole name, not only its first 13 characters, is in the object.
  EXPECT_EQ(s.cstring(s.shdr(1, shdr_at::sh_offset) + 8), zv::importLibraryName(GetParam().first));
}

TEST(MemberSize, ThousandTwentyFourBytes) {
  // 16 functions of 3-character names: .fimport 64..200, .symtab 256..528,
  // .strtab 576..641, .secstrtab 704..751, headers 768..968: 1024 bytes.
  ModuleSpec shape;
  shape.funcs = std::vector<Export>{};
  for (int i = 0; i < 16; ++i) shape.funcs->push_back({"f" + std::string(i < 10 ? "0" : "") + std::to_string(i)});
  EnvVar epoch("SOURCE_DATE_EPOCH", "1");
  LibRun r = runInMemory(shape, "/o/mylib.vkm");
  ASSERT_EQ(r.rc, 0u) << r.text;
  Stub s = readStub(r.archive);
  EXPECT_EQ(s.header().substr(48, 10), "1024      ");
  EXPECT_EQ(r.archive.size(), 68u + 1024u);
  EXPECT_EQ(s.u32(ehdr_at::e_shoff), 768u);
}

TEST(MemberDate, ComesFromSourceDateEpoch) {
  EnvVar epoch("SOURCE_DATE_EPOCH", "1234567890");
  LibRun r = runInMemory(twoFunctions(), "/o/mylib.vkm");
  ASSERT_EQ(r.rc, 0u);
  EXPECT_EQ(readStub(r.archive).header().substr(16, 12), "1234567890  ");
}

TEST(MemberDate, IsTheCurrentTimeWithoutSourceDateEpoch) {
  EnvVar epoch("SOURCE_DATE_EPOCH", std::nullopt);
  long before = static_cast<long>(time(nullptr));
  LibRun r = runInMemory(twoFunctions(), "/o/mylib.vkm");
  long after = static_cast<long>(time(nullptr));
  ASSERT_EQ(r.rc, 0u);
  std::string date = readStub(r.archive).header().substr(16, 12);
  long value = std::stol(date);
  EXPECT_GE(value, before);
  EXPECT_LE(value, after);
  EXPECT_EQ(date, std::to_string(value) + std::string(12 - std::to_string(value).size(), ' '));
}

// Not a number, or a date the 32-bit member date cannot hold.
TEST(MemberDate, UnusableSourceDateEpochIsReportedAndIgnored) {
  for (const char* value : {"yesterday", "2147483648", "4294967296"}) {
    EnvVar epoch("SOURCE_DATE_EPOCH", value);
    long before = static_cast<long>(time(nullptr));
    LibRun r = runInMemory(twoFunctions(), "/o/mylib.vkm");
    ASSERT_EQ(r.rc, 0u);
    EXPECT_EQ(r.text, "WARN: SOURCE_DATE_EPOCH \"" + std::string(value) +
                          "\" is not a whole number of seconds below 2147483648; the current time is used.\n");
    EXPECT_GE(std::stol(readStub(r.archive).header().substr(16, 12)), before);
  }
}

TEST(MemberDate, LastRepresentableSecondIsKept) {
  EnvVar epoch("SOURCE_DATE_EPOCH", "2147483647");
  LibRun r = runInMemory(twoFunctions(), "/o/mylib.vkm");
  ASSERT_EQ(r.rc, 0u);
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(readStub(r.archive).header().substr(16, 12), "2147483647  ");
}

TEST(Reproducible, TwoRunsWithSourceDateEpochAreIdentical) {
  EnvVar epoch("SOURCE_DATE_EPOCH", "1700000000");
  LibRun a = runInMemory(workedExample(), "/o/mylib.vkm");
  LibRun b = runInMemory(workedExample(), "/o/mylib.vkm");
  ASSERT_EQ(a.rc, 0u);
  ASSERT_FALSE(a.archive.empty());
  EXPECT_EQ(a.archive, b.archive);
}

TEST(Reproducible, RunsDifferOnlyInTheDateField) {
  std::vector<uint8_t> first, second;
  {
    EnvVar epoch("SOURCE_DATE_EPOCH", "1000000000");
    first = runInMemory(workedExample(), "/o/mylib.vkm").archive;
  }
  {
    EnvVar epoch("SOURCE_DATE_EPOCH", "2000000000");
    second = runInMemory(workedExample(), "/o/mylib.vkm").archive;
  }
  ASSERT_EQ(first.size(), second.size());
  for (size_t i = 0; i < first.size(); ++i) {
    bool dateField = i >= 8 + 16 && i < 8 + 28;
    if (!dateField) {
      EXPECT_EQ(first[i], second[i]) << "offset " << i;
    }
  }
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace zv::test
