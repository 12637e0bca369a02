// Helpers for the driver's tests: argument vectors as main receives them,
// and the usage text as the tool documents it (written out here line by
// line, not taken from the program).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "support/run_tool.h"

namespace zv::test {

// argv for a run: argv[0] is "zodavov", then `args`.
struct ArgV {
  std::vector<std::string> text;
  std::vector<char*> ptrs;

  explicit ArgV(std::vector<std::string> args, std::string self = "zodavov") {
    text.push_back(std::move(self));
    for (auto& a : args) text.push_back(std::move(a));
    for (auto& t : text) ptrs.push_back(t.data());
    ptrs.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(text.size()); }
  char** argv() { return ptrs.data(); }
};

inline uint32_t parse(zv::Context& ctx, std::vector<std::string> args) {
  ctx.con.capture = true;
  ArgV a(std::move(args));
  return zv::parseCommandLine(ctx, a.argc(), a.argv()).value();
}

inline int run(zv::Context& ctx, std::vector<std::string> args, std::string self = "zodavov") {
  ctx.con.capture = true;
  ArgV a(std::move(args), std::move(self));
  return zv::runTool(ctx, a.argc(), a.argv());
}

// The usage text, banner included.
inline std::string expectedUsage() {
  return std::string("\n\nzodavov for Edba OS SDK Version 2.13.00 (VKM v1.0 ") + ZV_BUILD_DATE + " " + ZV_BUILD_TIME +
         ")\n" +
         "\nUsage:\n"
         "         zodavov[ 32 | 64 ] [ options* ] input_elf_file\n"
         "\n ZodaVOV works on the ELF file that comes out of the linker.\n"
         " It creates an VKM file.\n"
         "\nOptions:\n"
         "    -zx                    Do not compress\n"
         "    -z[1-9]                Compression level, default is 6\n"
         "    -f                     Force as VKX\n"
         "    -d                     Set dynamic-only flag in file info\n"
         "    -s                     Strip non-import symbol strings from target\n"
         "    -new                   New smaller VKM symbol table(default)\n"
         "    -old                   Old larger VKM symbol table\n"
         "    -h <#>                 Override default system heap size (min 32kB)\n"
         "    -checknosda            Verify VKM does not use an SDA\n"
         "    -stack <#>             Override default initial stack size (65536)\n"
         "    -l <file>              Specify Output .a import library file\n"
         "    -v                     Print Verbose Info\n"
         "    -warnemptyrela         Emit warning if a relocation section points to the\n"
         "                           NULL section and has empty relocations\n"
         "    -t <x>=<y>             Set Loader Tag <x> value to <y>\n"
         "    -nolib                 Do not generate an import library file\n"
         "    -padall <n>            Pad TEXT, DATA, LOAD and TEMP to <n> percent.\n"
         "    -sizedata <n>          Data area set to <n> bytes. Have to also set\n"
         "                           -sizetext <n> -sizeload <n> -sizetemp <n>\n"
         "    -sizetext <n>          Text area set to <n> bytes. Have to also set\n"
         "                           -sizedata <n> -sizeload <n> -sizetemp <n>\n"
         "    -sizeload <n>          Loader area set to <n> bytes. Have to also set\n"
         "                           -sizedata <n> -sizetext <n> -sizeload <n>\n"
         "    -sizetemp <n>          Loader overhead area set to <n> bytes. Have to\n"
         "                           also set -sizedata <n> -sizetext <n> -sizeload <n>\n"
         "    -sizefileinfo <n>      FileInfo area set to <n> bytes. Can be used independently "
         "of other padding options\n"
         "                           FileInfo must be at least 96 bytes.\n"
         "    -dbg_source_root <dir> <dir> is a file path (Windows, Cygwin or mixed). Review all "
         "source roots passed to zodavov\n"
         "                          \tto use the first one that matches up with the "
         "input_elf_file to create a relative path\n"
         "                          \tin the FileInfo.  Added implicitly by the build tools but "
         "additional paths may be added.\n"
         "\n";
}

}  // namespace zv::test
