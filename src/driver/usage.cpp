// The usage text with its version banner, and the report of a command line
// that named no usable input: the FAILED line, the command line echoed one
// argument per line, then the usage text.
#include <iterator>

#include "driver/driver.h"

#ifndef ZV_BUILD_DATE
#define ZV_BUILD_DATE __DATE__
#endif
#ifndef ZV_BUILD_TIME
#define ZV_BUILD_TIME __TIME__
#endif

namespace zv {

namespace {

constexpr int kVersionMajor = 2, kVersionMinor = 13, kVersionPatch = 0;
constexpr int kMinHeapKb = 32;
constexpr int kDefaultStack = 65536;
constexpr int kMinFileInfo = 96;

// The lines after the option list's "-h" and "-stack" entries carry numbers;
// everything else is fixed text.
const char* const kOptionsHead[] = {
    "\nUsage:\n",
    "         zodavov[ 32 | 64 ] [ options* ] input_elf_file\n",
    "\n ZodaVOV works on the ELF file that comes out of the linker.\n",
    " It creates an VKM file.\n",
    "\nOptions:\n",
    "    -zx                    Do not compress\n",
    "    -z[1-9]                Compression level, default is 6\n",
    "    -f                     Force as VKX\n",
    "    -d                     Set dynamic-only flag in file info\n",
    "    -s                     Strip non-import symbol strings from target\n",
    "    -new                   New smaller VKM symbol table(default)\n",
    "    -old                   Old larger VKM symbol table\n",
};

const char* const kOptionsMiddle[] = {
    "    -l <file>              Specify Output .a import library file\n",
    "    -v                     Print Verbose Info\n",
    "    -warnemptyrela         Emit warning if a relocation section points to the\n",
    "                           NULL section and has empty relocations\n",
    "    -t <x>=<y>             Set Loader Tag <x> value to <y>\n",
    "    -nolib                 Do not generate an import library file\n",
    "    -padall <n>            Pad TEXT, DATA, LOAD and TEMP to <n> percent.\n",
    "    -sizedata <n>          Data area set to <n> bytes. Have to also set\n",
    "                           -sizetext <n> -sizeload <n> -sizetemp <n>\n",
    "    -sizetext <n>          Text area set to <n> bytes. Have to also set\n",
    "                           -sizedata <n> -sizeload <n> -sizetemp <n>\n",
    "    -sizeload <n>          Loader area set to <n> bytes. Have to also set\n",
    "                           -sizedata <n> -sizetext <n> -sizeload <n>\n",
    "    -sizetemp <n>          Loader overhead area set to <n> bytes. Have to\n",
    "                           also set -sizedata <n> -sizetext <n> -sizeload <n>\n",
    ("    -sizefileinfo <n>      FileInfo area set to <n> bytes. Can be used independently of "
     "other padding options\n"),
};

const char* const kOptionsTail[] = {
    ("    -dbg_source_root <dir> <dir> is a file path (Windows, Cygwin or mixed). Review all source "
     "roots passed to zodavov\n"),
    ("                          \tto use the first one that matches up with the input_elf_file to "
     "create a relative path\n"),
    ("                          \tin the FileInfo.  Added implicitly by the build tools but "
     "additional paths may be added.\n"),
    "\n",
};

void sayAll(Context& ctx, const char* const* lines, size_t count) {
  for (size_t i = 0; i < count; ++i) say(ctx, "%s", lines[i]);
}

}  // namespace

void printUsage(Context& ctx) {
  say(ctx, "\n\nzodavov for Edba OS SDK Version %d.%02d.%02d (VKM %s %s %s)\n", kVersionMajor, kVersionMinor,
      kVersionPatch, "v1.0", ZV_BUILD_DATE, ZV_BUILD_TIME);
  sayAll(ctx, kOptionsHead, std::size(kOptionsHead));
  say(ctx, "    -h <#>                 Override default system heap size (min %dkB)\n", kMinHeapKb);
  say(ctx, "    -checknosda            Verify VKM does not use an SDA\n");
  say(ctx, "    -stack <#>             Override default initial stack size (%d)\n", kDefaultStack);
  sayAll(ctx, kOptionsMiddle, std::size(kOptionsMiddle));
  say(ctx, "                           FileInfo must be at least %d bytes.\n", kMinFileInfo);
  sayAll(ctx, kOptionsTail, std::size(kOptionsTail));
}

void reportCommandLineFailure(Context& ctx, int argc, char** argv, Status failure) {
  const char* self = argc > 0 && argv[0] ? argv[0] : "";
  say(ctx, "\n\n%s FAILED Error = %d\n", self, static_cast<int>(failure.value()));
  say(ctx, "\t%s", self);
  for (int i = 1; i < argc; ++i) say(ctx, " \\\n\t\t%s", argv[i]);
  say(ctx, "\n");
  printUsage(ctx);
}

}  // namespace zv
