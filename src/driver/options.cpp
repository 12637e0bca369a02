// The command line. Options are a dash and a lower-case word; the second
// character picks the family, and within a family the word is matched without
// regard to letter case. An option that takes a value takes the next argument
// whatever it looks like. Any argument that is not an option names the input
// ELF file, which is loaded the moment it is met, so a bad input stops the run
// before any later option is looked at.
#include <climits>
#include <cstring>
#include <new>

#include "driver/driver.h"
#include "elf/input.h"

namespace zv {

namespace {

// Files this small cannot hold a module; they are dropped without a word and
// the run later reports that it found no input.
constexpr uint64_t kMinInputSize = 260;

// ASCII case-insensitive equality of two whole strings.
bool sameNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
    if (x != y) return false;
    if (x == 0) return true;
  }
}

// Says `message` and fails with -1.
Status fail(Context& ctx, const char* message) {
  say(ctx, "%s", message);
  return Status::failed();
}

// The argument after argv[i], consuming it; nullptr when there is none.
const char* takeValue(int argc, char** argv, int& i) {
  if (i + 1 >= argc) return nullptr;
  return argv[++i];
}

// Reads the value of a numeric option; a missing value or one that reads as
// 0 prints `message` and fails.
Status takeNumber(Context& ctx, int argc, char** argv, int& i, const char* message, int32_t& out) {
  const char* text = takeValue(argc, argv, i);
  out = text ? readDecimal(text) : 0;
  if (out != 0) return {};
  say(ctx, "%s", message);
  return Status::failed();
}

struct NumberOption {
  const char* name;
  const char* message;
  void (*store)(Options&, int32_t);
};

constexpr uint32_t kMinFileInfoSize = 96;

// The numeric options of the -s family, in the order they are tried.
const NumberOption kSizeOptions[] = {
    {"stack", "***Option -stack did not have a valid argument (# of bytes). Return -1.\n",
     [](Options& o, int32_t v) { o.stackSize = static_cast<uint32_t>(v); }},
    {"sizedata", "***Option -sizedata did not have a valid argument (# of bytes). Return -1.\n",
     [](Options& o, int32_t v) { o.sizeData = v; }},
    {"sizetext", "***Option -sizetext did not have a valid argument (# of bytes). Return -1.\n",
     [](Options& o, int32_t v) { o.sizeText = v; }},
    {"sizetemp", "***Option -sizetemp did not have a valid argument (# of bytes). Return -1.\n",
     [](Options& o, int32_t v) { o.sizeTemp = v; }},
    {"sizeload", "***Option -sizeload did not have a valid argument (# of bytes). Return -1.\n",
     [](Options& o, int32_t v) { o.sizeLoad = v; }},
    {"sizefileinfo", "***Option -sizefileinfo did not have a valid argument (# of bytes). Return -1.\n",
     [](Options& o, int32_t v) { o.sizeFileInfo = static_cast<uint32_t>(v); }},
};

Status optionS(Context& ctx, int argc, char** argv, int& i) {
  const char* arg = argv[i];
  for (const NumberOption& opt : kSizeOptions) {
    if (!sameNoCase(arg + 1, opt.name)) continue;
    int32_t value;
    if (Status r = takeNumber(ctx, argc, argv, i, opt.message, value); !r.ok()) return r;
    if (std::strcmp(opt.name, "sizefileinfo") == 0 && static_cast<uint32_t>(value) < kMinFileInfoSize) {
      say(ctx,
          "***Option -sizefileinfo did not have a valid argument (# of bytes). Must be at least "
          "as large as %d. Return -1.\n",
          static_cast<int>(kMinFileInfoSize));
      return Status::failed();
    }
    opt.store(ctx.opt, value);
    return {};
  }
  if (arg[2] != '\0') return fail(ctx, "***Option -s does not take an argument. Return -1.\n");
  ctx.opt.stripStrings = true;
  return {};
}

Status optionT(Context& ctx, int argc, char** argv, int& i) {
  const char* message = "***Option -t must be of the format  -t <x>=<y>.\n";
  if (argv[i][2] != '\0') return fail(ctx, message);
  const char* text = takeValue(argc, argv, i);
  if (!text || !addLoaderTag(ctx, text).ok()) return fail(ctx, message);
  return {};
}

Status optionD(Context& ctx, int argc, char** argv, int& i) {
  const char* arg = argv[i];
  if (sameNoCase(arg + 1, "dbg_source_root")) {
    const char* path = takeValue(argc, argv, i);
    if (!path || !addSourceRoot(ctx, path).ok())
      return fail(ctx,
                  "***Option -dbg_source_root did not have a valid argument (a path beginning "
                  "with the drive). Return -1.\n");
    return {};
  }
  if (arg[2] != '\0') return fail(ctx, "***Option -d does not take an argument. Return -1.\n");
  ctx.opt.dynamicOnly = true;
  return {};
}

Status optionZ(Context& ctx, const char* arg) {
  if (sameNoCase(arg + 1, "zx")) {
    ctx.opt.compress = false;
  } else if (arg[2] >= '1' && arg[2] <= '9') {
    ctx.opt.compressLevel = arg[2] - '0';
  } else if (arg[2] != '\0') {
    return fail(ctx, "***Option -z takes compression level 1 to 9 or x. Return -1.\n");
  }
  return {};
}

Status optionL(Context& ctx, int argc, char** argv, int& i) {
  const char* arg = argv[i];
  if (arg[2] != '\0') {
    ctx.opt.importLibPath = std::string(arg + 2);
    return {};
  }
  const char* path = takeValue(argc, argv, i);
  if (!path) return fail(ctx, "***Option -l requires a filename. Return -1.\n");
  ctx.opt.importLibPath = std::string(path);
  return {};
}

Status optionOther(Context& ctx, const char* arg) {
  if (sameNoCase(arg + 1, "checknosda")) {
    ctx.opt.checkNoSda = true;
  } else if (sameNoCase(arg + 1, "warnemptyrela")) {
    ctx.opt.warnEmptyRela = true;
  } else {
    say(ctx, "***Error: Unrecognized option \"%s\" specified. Return -1.\n", arg);
    return Status::failed();
  }
  return {};
}

Status optionFlags(Context& ctx, const char* arg) {
  Options& o = ctx.opt;
  const char* name = arg + 1;
  switch (arg[1]) {
    case 'n':
      if (sameNoCase(name, "new"))
        o.newSymbolTable = true;
      else if (sameNoCase(name, "nolib"))
        o.noLib = true;
      return {};
    case 'o':
      if (sameNoCase(name, "old")) o.newSymbolTable = false;
      return {};
    case 'f':
      if (arg[2] != '\0') return fail(ctx, "***Option -f does not take an argument. Return -1.\n");
      o.forceVkx = true;
      return {};
    case 'v':
      if (sameNoCase(name, "v"))
        o.verbose = true;
      else if (sameNoCase(name, "v2"))
        o.verbose2 = true;
      else if (sameNoCase(name, "v3"))
        o.verbose3 = true;
      return {};
    case 'x':
      if (!sameNoCase(name, "x32")) {
        say(ctx, "***Error: Unrecognized option \"%s\" specified.\n", arg);
        return Status::failed();
      }
      o.allowCode32 = true;
      return {};
    case 'z':
      return optionZ(ctx, arg);
    default:
      return optionOther(ctx, arg);
  }
}

Status parseOption(Context& ctx, int argc, char** argv, int& i) {
  const char* arg = argv[i];
  int32_t value;
  switch (arg[1]) {
    case 's':
      return optionS(ctx, argc, argv, i);
    case 't':
      return optionT(ctx, argc, argv, i);
    case 'd':
      return optionD(ctx, argc, argv, i);
    case 'l':
      return optionL(ctx, argc, argv, i);
    case 'h':
      if (Status r = takeNumber(ctx, argc, argv, i,
                                "***Option -h did not have a valid argument (# of bytes). Return -1.\n", value);
          !r.ok())
        return r;
      ctx.opt.heapSize = static_cast<uint32_t>(value);
      return {};
    case 'p':
      if (!sameNoCase(arg + 1, "padall")) return {};
      if (Status r = takeNumber(ctx, argc, argv, i,
                                "***Option -padall did not have a valid argument (percentage). Return -1.\n", value);
          !r.ok())
        return r;
      ctx.opt.padAllPercent = static_cast<uint32_t>(value);
      return {};
    default:
      return optionFlags(ctx, arg);
  }
}

// The input argument: map the file and have it loaded.
Status takeInputFile(Context& ctx, const char* arg) {
  if (ctx.haveInput) {
    say(ctx, "***Error: More than one ELF input file specified. \"%s\"\n", arg);
    return Status::failed();
  }
  MappedFile* file = nullptr;
  if (Status r = mapFile(arg, file); !r.ok()) {
    say(ctx, "***Error: Could not map in file \"%s\". Error 0x%08X\n", arg, r.value());
    return r;
  }
  ctx.opt.inputPath = std::string(arg);
  if (file->size < kMinInputSize) {
    releaseMappedFile(file);
    return {};
  }
  return loadInput(ctx, file, arg);
}

}  // namespace

Status loadInput(Context& ctx, MappedFile* file, const std::string& name) {
  if (ctx.haveInput || !file) return Status::failed();
  if (ctx.inputFile && ctx.inputFile != file) releaseMappedFile(ctx.inputFile);
  ctx.inputFile = file;
  Status r = loadInputElf(ctx.con, *file, name, LoadSettings{ctx.opt.forceVkx, ctx.opt.threads}, ctx.input, ctx.facts);
  ctx.haveInput = ctx.facts.parsed;
  return r;
}

int32_t readDecimal(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  const int64_t limit = negative ? -int64_t{INT32_MIN} : int64_t{INT32_MAX};
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > limit) value = limit;  // keep reading digits, stay saturated
  }
  return static_cast<int32_t>(negative ? -value : value);
}

Status parseCommandLine(Context& ctx, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    Status r = arg[0] == '-' ? parseOption(ctx, argc, argv, i) : takeInputFile(ctx, arg);
    if (!r.ok()) return r;
  }
  return {};
}

Status addSourceRoot(Context& ctx, const std::string& path) {
  if (path.empty()) return Status::failed();
  for (const std::string& root : ctx.opt.sourceRoots)
    if (root == path) return {};
  try {
    ctx.opt.sourceRoots.push_back(path);
  } catch (const std::bad_alloc&) {
    say(ctx, "***Out Of Memory.\n");
    return Status::failed();
  }
  return {};
}

}  // namespace zv
