// The JSON document of vkmdump: the same facts as the text views, with
// numbers as numbers, in a schema that carries its own version number so a
// dashboard can tell when the layout of the document changes. The schema is
// written down in docs/vkmdump-json.md; keys are only ever added to it.
#include "dump/dump.h"

namespace zv {

namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json orNull(const std::optional<T>& v) {
  return v ? Json(*v) : Json(nullptr);
}

Json fileInfoJson(const Module& m) {
  if (!m.haveFileInfo) return nullptr;
  const FileInfoHeader& f = m.fi;
  Json tags = Json::object();
  for (const auto& [name, value] : m.tags) tags[name] = value;
  return Json{{"magic", f.magic},
              {"text_size", f.textSize},
              {"text_align", f.textAlign},
              {"data_size", f.dataSize},
              {"data_align", f.dataAlign},
              {"load_size", f.loadSize},
              {"load_align", f.loadAlign},
              {"temp_size", f.tempSize},
              {"tramp_adj", f.trampAdj},
              {"sda_base", f.sdaBase},
              {"sda2_base", f.sda2Base},
              {"stack_size", f.stackSize},
              {"file_name_offset", f.fileNameOffset},
              {"flags", f.flags},
              {"dynamic_only", (f.flags & kFlagDynamicOnly) != 0},
              {"vkx", (f.flags & kFlagVkx) != 0},
              {"tls", (f.flags & kFlagTls) != 0},
              {"heap_size", f.heapSize},
              {"tags_offset", f.tagsOffset},
              {"fixed_value", f.fixedValue},
              {"compression_level", f.compressionLevel},
              {"tramp_addition", f.trampAddition},
              {"trailer_size", f.trailerSize},
              {"sdk_version", f.sdkVersion},
              {"sdk_revision", f.sdkRevision},
              {"reserved", f.reserved},
              {"tls_align_shift", f.tlsAlignShift},
              {"file_info_area_size", f.fileInfoAreaSize},
              {"file_name", m.fileName},
              {"tags", tags}};
}

Json regionsJson(const Module& m) {
  Json out = Json::array();
  for (const ModuleRegion& r : m.regions)
    out.push_back({{"group", moduleGroupName(r.group)},
                   {"sections", r.sections},
                   {"address_start", r.hasAddresses ? Json(r.addrStart) : Json(nullptr)},
                   {"address_end", r.hasAddresses ? Json(r.addrEnd) : Json(nullptr)},
                   {"stored_bytes", r.storedBytes},
                   {"unpacked_bytes", r.unpackedBytes},
                   {"memory_size", r.memorySize}});
  return out;
}

Json sectionsJson(const Module& m) {
  Json out = Json::array();
  for (const ModuleSection& s : m.sections)
    out.push_back({{"index", s.index},
                   {"name", s.name},
                   {"type", sectionTypeName(s.h.sh_type)},
                   {"type_value", s.h.sh_type},
                   {"flags", s.h.sh_flags},
                   {"flag_letters", sectionFlagLetters(s.h.sh_flags)},
                   {"address", s.h.sh_addr},
                   {"size", s.size},
                   {"offset", s.h.sh_offset},
                   {"stored_size", s.storedSize},
                   {"compressed", s.compressed},
                   {"ratio", s.compressed && s.size ? Json(double(s.storedSize) / s.size) : Json(nullptr)},
                   {"group", s.group ? Json(moduleGroupName(*s.group)) : Json(nullptr)},
                   {"crc", orNull(s.crc)},
                   {"crc_ok", orNull(s.crcOk)},
                   {"link", s.h.sh_link},
                   {"info", s.h.sh_info},
                   {"addralign", s.h.sh_addralign},
                   {"entsize", s.h.sh_entsize}});
  return out;
}

Json symbolJson(const ModuleSymbol& s) {
  return {{"index", s.index},
          {"name", s.name},
          {"value", s.s.st_value},
          {"size", s.s.st_size},
          {"type", symbolTypeName(symType(s.s))},
          {"bind", symbolBindName(symBind(s.s))},
          {"section", s.s.st_shndx}};
}

Json importsJson(const Module& m) {
  Json out = Json::array();
  for (const ModuleImport& imp : m.imports) {
    uint32_t base = m.sections[imp.section].h.sh_addr;
    Json syms = Json::array();
    for (const ModuleSymbol& s : imp.symbols) {
      Json j = symbolJson(s);
      j["slot"] = (s.s.st_value - base) / 8;
      syms.push_back(j);
    }
    out.push_back({{"section", imp.section},
                   {"library", imp.library},
                   {"count", imp.count},
                   {"signature", imp.signature},
                   {"symbols", syms}});
  }
  return out;
}

Json exportsJson(const Module& m) {
  Json out = Json::array();
  for (const ModuleExportTable& t : m.exports) {
    Json entries = Json::array();
    for (const ModuleExport& e : t.entries)
      entries.push_back({{"name", e.name},
                         {"value", e.value},
                         {"kind", t.functions ? "FUNC"
                                  : e.tls     ? "TLS"
                                              : "DATA"}});
    out.push_back({{"section", t.section},
                   {"name", m.sections[t.section].name},
                   {"kind", t.functions ? "functions" : "data"},
                   {"count", t.count},
                   {"signature", t.signature},
                   {"entries", entries}});
  }
  return out;
}

}  // namespace

nlohmann::ordered_json jsonView(const std::string& path, const Module& m, const DumpOptions& opt) {
  Json doc{{"schema", kDumpSchemaVersion},  {"file", path},
           {"kind", m.vkx ? "VKX" : "VKM"}, {"byte_order", m.bigEndian ? "big" : "little"},
           {"file_size", m.fileSize},       {"entry", m.eh.e_entry},
           {"machine", m.eh.e_machine},     {"fileinfo", fileInfoJson(m)},
           {"regions", regionsJson(m)},     {"sections", sectionsJson(m)}};
  if (opt.imports) doc["imports"] = importsJson(m);
  if (opt.exports) doc["exports"] = exportsJson(m);
  if (opt.symbols) {
    Json syms = Json::array();
    for (const ModuleSymbol& s : m.symbols) syms.push_back(symbolJson(s));
    doc["symbols"] = syms;
  }
  doc["verified"] = opt.verify;
  doc["problems"] = opt.verify ? Json(m.problems) : Json::array();
  return doc;
}

nlohmann::ordered_json jsonError(const std::string& path, const std::string& error) {
  return Json{{"schema", kDumpSchemaVersion}, {"file", path}, {"error", error}, {"problems", Json::array({error})}};
}

}  // namespace zv
