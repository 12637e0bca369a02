// The vkmdump command: reads its options, maps each module named on the
// command line, prints the chosen views (or one JSON document per file) and
// writes a section's unpacked contents to a file with -x. Files are mapped
// and written only through the platform layer; every message goes to the
// run's console.
#include <cctype>

#include "dump/dump.h"

namespace zv {

namespace {

constexpr int kExitOk = 0, kExitProblems = 1, kExitUsage = 2;

void print(Console& con, const std::string& text) { consoleWrite(con, text.data(), text.size()); }

std::string mapFailure(uint32_t code) {
  switch (code) {
    case 0x80070002:
      return "no such file";
    case 0x80070003:
      return "a folder on its path does not exist";
    case 0x80070005:
      return "access denied, or it is a folder";
    case kErrOutOfMemory:
      return "out of memory";
    default:
      return "cannot be read (it is empty, not a regular file, or 4 GB or larger)";
  }
}

bool allDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// The section -x names: an index, else the first section of that name.
bool findSection(const Module& m, const std::string& which, uint32_t& index) {
  if (allDigits(which) && which.size() < 10) {
    index = static_cast<uint32_t>(std::stoul(which));
    return index < m.sections.size();
  }
  for (const ModuleSection& s : m.sections)
    if (s.name == which) {
      index = s.index;
      return true;
    }
  return false;
}

int extractSection(Console& con, const std::string& path, std::span<const uint8_t> bytes, const Module& m,
                   const DumpOptions& opt) {
  uint32_t index = 0;
  if (!findSection(m, opt.extract, index)) {
    print(con, format("vkmdump: %s: no section \"%s\"\n", path.c_str(), opt.extract.c_str()));
    return kExitProblems;
  }
  std::vector<uint8_t> contents;
  std::string why;
  if (!sectionContents(bytes, m, index, contents, why)) {
    print(con, format("vkmdump: %s: %s\n", path.c_str(), why.c_str()));
    return kExitProblems;
  }
  OutputFile out;
  if (Status r = openOutputFile(opt.extractTo, out); !r.ok()) {
    print(con, format("vkmdump: cannot write %s (error %d)\n", opt.extractTo.c_str(), static_cast<int>(r.value())));
    return kExitProblems;
  }
  if (!writeOutputBytes(out, contents.data(), contents.size())) {
    discardOutputFile(out);
    print(con, format("vkmdump: writing %s failed\n", opt.extractTo.c_str()));
    return kExitProblems;
  }
  if (Status r = commitOutputFile(out); !r.ok()) {
    print(con, format("vkmdump: writing %s failed (error %d)\n", opt.extractTo.c_str(), static_cast<int>(r.value())));
    return kExitProblems;
  }
  const std::string& name = m.sections[index].name;
  print(con, format("vkmdump: wrote %zu bytes of section %u%s%s%s to %s\n", contents.size(), index,
                    name.empty() ? "" : " (", name.c_str(), name.empty() ? "" : ")", opt.extractTo.c_str()));
  return kExitOk;
}

}  // namespace

std::string dumpUsage() {
  return "usage: vkmdump [options] FILE...\n"
         "Shows what is inside VKM/VKX modules.\n"
         "\n"
         "  -S, --summary     kind, FileInfo, regions and sections (the default view)\n"
         "  -i, --imports     each import section: its library and its symbols with their slots\n"
         "  -e, --exports     each export table: its entries with names and kinds\n"
         "  -s, --symbols     the module's symbol table\n"
         "  -c, --verify      unpack every section, check every CRC and the converter's layout\n"
         "                    rules; list every problem (exit 1) or print OK\n"
         "  -a, --all         all of the above\n"
         "  -j, --json        one JSON document per file (an array for several files)\n"
         "  -x SECTION -o FILE\n"
         "                    write the unpacked contents of a section (index or name) to FILE\n"
         "  -h, --help        this text\n"
         "\n"
         "Exit value: 0 when all is well, 1 when a file cannot be read or --verify finds a\n"
         "problem, 2 for a bad command line.\n";
}

std::string parseDumpArgs(const std::vector<std::string>& args, DumpOptions& opt) {
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsDone || a.empty() || a[0] != '-') {
      opt.files.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsDone = true;
    } else if (a == "-h" || a == "--help") {
      opt.help = true;
    } else if (a == "-S" || a == "--summary") {
      opt.summary = true;
    } else if (a == "-i" || a == "--imports") {
      opt.imports = true;
    } else if (a == "-e" || a == "--exports") {
      opt.exports = true;
    } else if (a == "-s" || a == "--symbols") {
      opt.symbols = true;
    } else if (a == "-c" || a == "--verify") {
      opt.verify = true;
    } else if (a == "-a" || a == "--all") {
      opt.summary = opt.imports = opt.exports = opt.symbols = opt.verify = true;
    } else if (a == "-j" || a == "--json") {
      opt.json = true;
    } else if (a == "-x" || a == "-o") {
      if (i + 1 >= args.size()) return "option " + a + " needs a value";
      (a == "-x" ? opt.extract : opt.extractTo) = args[++i];
    } else {
      return "unknown option " + a;
    }
  }
  if (opt.help) return "";
  if (opt.files.empty()) return "no module file given";
  if (!opt.extract.empty() || !opt.extractTo.empty()) {
    if (opt.extract.empty() || opt.extractTo.empty()) return "-x SECTION and -o FILE go together";
    if (opt.files.size() != 1) return "-x extracts from one file only";
    if (opt.json) return "-x writes a file; it does not combine with --json";
  } else if (!opt.imports && !opt.exports && !opt.symbols && !opt.verify) {
    opt.summary = true;
  }
  return "";
}

int runDump(Console& con, const std::vector<std::string>& args) {
  DumpOptions opt;
  std::string bad = parseDumpArgs(args, opt);
  if (opt.help) {
    print(con, dumpUsage());
    return kExitOk;
  }
  if (!bad.empty()) {
    print(con, "vkmdump: " + bad + "\n" + dumpUsage());
    return kExitUsage;
  }
  int status = kExitOk;
  nlohmann::ordered_json docs = nlohmann::ordered_json::array();
  for (size_t i = 0; i < opt.files.size(); ++i) {
    const std::string& path = opt.files[i];
    MappedFile* file = nullptr;
    std::string error;
    Module m;
    if (Status r = mapFile(path, file); !r.ok()) {
      error = mapFailure(r.value());
    } else {
      std::span<const uint8_t> bytes(file->base, file->size);
      error = readModule(bytes, m);
      if (error.empty() && !opt.extract.empty()) status = extractSection(con, path, bytes, m, opt);
    }
    if (file) releaseMappedFile(file);
    if (!error.empty()) {
      status = kExitProblems;
      if (opt.json)
        docs.push_back(jsonError(path, error));
      else
        print(con, "vkmdump: " + path + ": " + error + "\n");
      continue;
    }
    if (opt.verify && !m.problems.empty()) status = kExitProblems;
    if (opt.json) {
      docs.push_back(jsonView(path, m, opt));
    } else if (opt.extract.empty()) {
      print(con, (i ? "\n" : "") + textView(path, m, opt));
    }
  }
  if (opt.json) {
    const auto& out = opt.files.size() == 1 ? docs.at(0) : docs;
    print(con, out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
  }
  consoleFlush(con);
  return status;
}

}  // namespace zv
