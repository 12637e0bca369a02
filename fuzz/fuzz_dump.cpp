// Fuzz target: the module viewer's reader. The input is taken as a module
// file (the seeds are real converted modules); it is read, every view is
// rendered as text and as JSON, and every section is extracted, so each
// decoding path of the viewer meets damaged bytes. Unpacking is capped so a
// small input cannot ask for gigabytes.
#include <cstdint>
#include <string>
#include <vector>

#include "dump/dump.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  zv::ReadLimits limits;
  limits.maxUnpacked = uint64_t{64} << 20;
  zv::Module m;
  if (!zv::readModule(bytes, m, limits).empty()) return 0;
  zv::DumpOptions opt;
  opt.summary = opt.imports = opt.exports = opt.symbols = opt.verify = true;
  std::string text = zv::textView("fuzz.vkm", m, opt);
  std::string json =
      zv::jsonView("fuzz.vkm", m, opt).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  if (text.empty() || json.empty()) __builtin_trap();
  std::vector<uint8_t> out;
  std::string why;
  for (uint32_t i = 0; i < m.sections.size() && i < 64; ++i) zv::sectionContents(bytes, m, i, out, why, limits);
  return 0;
}
