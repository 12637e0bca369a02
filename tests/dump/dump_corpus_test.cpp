// vkmdump on the real modules: every corpus module is converted (with the
// options that change the file: no compression, the old symbol table with
// and without string stripping, dynamic-only, VKX, extra tags, padding) and
// dumped with every view; each number of the JSON document and of the text
// summary is compared with what the tests' own module reader finds in the
// same file (sizes, offsets, groups, CRC words, FileInfo fields, symbols,
// imports and exports).
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/status_print.h"
#include "support/vkm_reader.h"

namespace zv::test {
namespace {

using Json = nlohmann::json;

constexpr uint32_t kNobits = 8, kImports = 0x80000002, kExports = 0x80000001, kCompressed = 0x08000000;

struct DumpCase {
  std::string label;
  std::string module;
  std::vector<std::string> options;
};

// Every module of the corpus as converted by default, and a few with the
// options that change the file most.
std::vector<DumpCase> dumpCases() {
  std::vector<DumpCase> cases;
  for (const std::string& file : folderEntries(sourceDir() + "/tests/corpus"))
    if (file.size() > 4 && file.ends_with(".elf")) {
      std::string module = file.substr(0, file.size() - 4);
      cases.push_back({module, module, {}});
    }
  cases.push_back({"basic_uncompressed", "basic", {"-zx"}});
  cases.push_back({"basic_old_stripped", "basic", {"-old", "-s"}});
  cases.push_back({"imports_old", "imports", {"-old"}});
  cases.push_back(
      {"basic_vkx_dynamic_tags", "basic", {"-f", "-d", "-t", "EXTRA_TAG=42", "-t", "EDBA_OS_SDK_REVISION=9"}});
  cases.push_back({"big_padded_level9", "big", {"-padall", "25", "-z9"}});
  return cases;
}

const char* groupName(VkmGroup g) {
  switch (g) {
    case VkmGroup::kData:
      return "DATA";
    case VkmGroup::kLoad:
      return "LOAD";
    case VkmGroup::kText:
      return "TEXT";
    case VkmGroup::kTemp:
      return "TEMP";
    default:
      return nullptr;
  }
}

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

void checkFileInfo(const Json& j, const VkmFileInfo& fi) {
  const std::pair<const char*, uint32_t> fields[] = {{"magic", fi.magic},
                                                     {"text_size", fi.textSize},
                                                     {"text_align", fi.textAlign},
                                                     {"data_size", fi.dataSize},
                                                     {"data_align", fi.dataAlign},
                                                     {"load_size", fi.loadSize},
                                                     {"load_align", fi.loadAlign},
                                                     {"temp_size", fi.tempSize},
                                                     {"tramp_adj", fi.trampAdj},
                                                     {"sda_base", fi.sdaBase},
                                                     {"sda2_base", fi.sda2Base},
                                                     {"stack_size", fi.stackSize},
                                                     {"flags", fi.flags},
                                                     {"heap_size", fi.heapSize},
                                                     {"tags_offset", fi.tagsOffset},
                                                     {"fixed_value", fi.fixedValue},
                                                     {"compression_level", fi.compressionLevel},
                                                     {"tramp_addition", fi.trampAddition},
                                                     {"trailer_size", fi.trailerSize},
                                                     {"sdk_version", fi.sdkVersion},
                                                     {"sdk_revision", fi.sdkRevision},
                                                     {"tls_align_shift", fi.tlsAlignShift},
                                                     {"file_info_area_size", fi.fileInfoAreaSize}};
  for (const auto& [key, value] : fields) EXPECT_EQ(j.at(key).get<uint32_t>(), value) << key;
  EXPECT_EQ(j.at("file_name"), fi.fileName);
  std::map<std::string, std::string> tags(fi.tags.begin(), fi.tags.end());
  EXPECT_EQ(j.at("tags").get<decltype(tags)>(), tags);
}

// One section's JSON entry and text row against the reader.
void checkSection(const Json& s, const std::string& text, const VkmFile& f, uint32_t i) {
  const VkmSection& h = f.sections[i];
  const bool nobits = h.type == kNobits, compressed = (h.flags & kCompressed) != 0;
  const uint32_t size = compressed ? static_cast<uint32_t>(f.contents[i].size()) : h.size;
  const uint32_t stored = nobits ? 0 : h.size;
  SCOPED_TRACE("section " + std::to_string(i));
  EXPECT_EQ(s.at("index"), i);
  EXPECT_EQ(s.at("name"), vkmSectionName(f, i));
  EXPECT_EQ(s.at("type_value"), h.type);
  EXPECT_EQ(s.at("flags"), h.flags);
  EXPECT_EQ(s.at("address"), h.addr);
  EXPECT_EQ(s.at("offset"), h.offset);
  EXPECT_EQ(s.at("size"), size);
  EXPECT_EQ(s.at("stored_size"), stored);
  EXPECT_EQ(s.at("compressed"), compressed);
  const char* group = groupName(f.groups[i]);
  EXPECT_EQ(s.at("group"), group ? Json(group) : Json(nullptr));
  const bool checked = i != 0 && !nobits && h.size != 0 && f.groups[i] != VkmGroup::kCrcs;
  EXPECT_EQ(s.at("crc"), checked ? Json(f.crcWords[i]) : Json(nullptr));
  EXPECT_EQ(s.at("crc_ok"), checked ? Json(true) : Json(nullptr));

  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "[%2u] ", i);
  size_t at = text.find(prefix);
  ASSERT_NE(at, std::string::npos);
  std::string row = text.substr(at, text.find('\n', at) - at);
  for (const std::string& want : {hex(h.addr), hex(h.offset), hex(size), hex(stored), vkmSectionName(f, i)})
    EXPECT_NE(row.find(want), std::string::npos) << row << " lacks " << want;
  if (group) {
    EXPECT_NE(row.find(group), std::string::npos) << row;
  }
  if (checked) {
    EXPECT_NE(row.find(hex(f.crcWords[i]) + " ok"), std::string::npos) << row;
  }
}

void checkRegions(const Json& regions, const VkmFile& f) {
  const std::pair<VkmGroup, uint32_t> expect[] = {{VkmGroup::kData, f.info.dataSize},
                                                  {VkmGroup::kLoad, f.info.loadSize},
                                                  {VkmGroup::kText, f.info.textSize},
                                                  {VkmGroup::kTemp, f.info.tempSize}};
  ASSERT_EQ(regions.size(), 4u);
  for (size_t r = 0; r < 4; ++r) {
    uint64_t stored = 0, count = 0;
    for (size_t i = 0; i < f.sections.size(); ++i)
      if (f.groups[i] == expect[r].first) {
        ++count;
        stored += f.sections[i].type == kNobits ? 0 : f.sections[i].size;
      }
    EXPECT_EQ(regions[r].at("group"), groupName(expect[r].first));
    EXPECT_EQ(regions[r].at("sections"), count);
    EXPECT_EQ(regions[r].at("stored_bytes"), stored);
    EXPECT_EQ(regions[r].at("memory_size"), expect[r].second);
  }
}

void checkTables(const Json& doc, const VkmFile& f) {
  int symtab = vkmFindSection(f, ".symtab");
  ASSERT_GE(symtab, 0);
  auto syms = vkmSymbols(f, static_cast<uint32_t>(symtab));
  uint32_t strtab = f.sections[static_cast<uint32_t>(symtab)].link;
  const Json& js = doc.at("symbols");
  ASSERT_EQ(js.size(), syms.size());
  for (size_t k = 0; k < syms.size(); ++k) {
    EXPECT_EQ(js[k].at("value"), syms[k].value);
    EXPECT_EQ(js[k].at("size"), syms[k].size);
    EXPECT_EQ(js[k].at("section"), syms[k].shndx);
    EXPECT_EQ(js[k].at("name"), syms[k].name ? vkmString(f, strtab, syms[k].name) : "");
  }
  size_t imports = 0, exports = 0;
  for (uint32_t i = 0; i < f.sections.size(); ++i) {
    if (f.sections[i].type == kImports && f.sections[i].size) {
      const Json& imp = doc.at("imports").at(imports++);
      EXPECT_EQ(imp.at("section"), i);
      EXPECT_EQ(imp.at("library"), vkmString(f, i, 8));
      std::vector<std::string> names;
      for (const auto& s : syms)
        if (s.shndx == i && (s.info & 0xF) != 3) names.push_back(vkmString(f, strtab, s.name));
      std::vector<std::string> shown;
      for (const Json& s : imp.at("symbols")) shown.push_back(s.at("name"));
      EXPECT_EQ(shown, names);
      EXPECT_EQ(imp.at("count"), be32(f.contents[i], 0));
    }
    if (f.sections[i].type == kExports && f.sections[i].size) {
      const Json& t = doc.at("exports").at(exports++);
      const auto& b = f.contents[i];
      ASSERT_EQ(t.at("entries").size(), be32(b, 0));
      for (uint32_t k = 0; k < be32(b, 0); ++k) {
        std::string name(reinterpret_cast<const char*>(b.data()) + (be32(b, 12 + 8 * k) & 0x7FFFFFFF));
        EXPECT_EQ(t.at("entries")[k].at("name"), name);
        EXPECT_EQ(t.at("entries")[k].at("value"), be32(b, 8 + 8 * k));
      }
    }
  }
  EXPECT_EQ(doc.at("imports").size(), imports);
  EXPECT_EQ(doc.at("exports").size(), exports);
}

void PrintTo(const DumpCase& c, std::ostream* os) { *os << c.label; }

class DumpCorpus : public ::testing::TestWithParam<DumpCase> {};

TEST_P(DumpCorpus, EveryNumberMatchesTheIndependentReader) {
  const DumpCase& c = GetParam();
  ScratchDir dir;
  const std::string input = dir.path + "/" + c.module + ".elf";
  writeFile(input, readFile(sourceDir() + "/tests/corpus/" + c.module + ".elf"));
  std::vector<std::string> args = c.options;
  args.insert(args.end(), {"-nolib", "-dbg_source_root", dir.path, input});
  auto conv =
      runZodavov(args, dir.path, {{"EDBA_ROOT", sourceDir() + "/samples/sdk"}, {"SOURCE_DATE_EPOCH", "1700000000"}});
  ASSERT_EQ(conv.status, 0) << conv.out;
  std::string module = dir.path + "/" + c.module + ".vkm";
  if (!fileExists(module)) module = dir.path + "/" + c.module + ".vkx";
  VkmFile f = readVkm(readFile(module));
  for (const auto& p : f.problems) ADD_FAILURE() << p;

  auto json = runVkmdump({"--json", "--all", module});
  ASSERT_EQ(json.status, 0) << json.out;
  auto text = runVkmdump({module});
  ASSERT_EQ(text.status, 0) << text.out;
  Json doc = Json::parse(json.out);

  EXPECT_EQ(doc.at("file"), module);
  EXPECT_EQ(doc.at("kind"), (f.info.flags & 0x2) ? "VKX" : "VKM");
  EXPECT_EQ(doc.at("byte_order"), "big");
  EXPECT_EQ(doc.at("problems"), Json::array());
  checkFileInfo(doc.at("fileinfo"), f.info);
  checkRegions(doc.at("regions"), f);
  ASSERT_EQ(doc.at("sections").size(), f.sections.size());
  for (uint32_t i = 0; i < f.sections.size(); ++i) checkSection(doc.at("sections")[i], text.out, f, i);
  checkTables(doc, f);
  EXPECT_NE(text.out.find(std::string("  file_name            \"") + f.info.fileName + "\""), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Corpus, DumpCorpus, ::testing::ValuesIn(dumpCases()),
                         [](const auto& param) { return param.param.label; });

}  // namespace
}  // namespace zv::test
