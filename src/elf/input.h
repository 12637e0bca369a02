// Loading the linker's output: validate and convert it, find the small-data
// bases, decide between a VKM and a VKX, and make sure the file carries the
// relocations the loader needs. What the input reveals is returned as
// InputFacts; the options stay as the user gave them.
#pragma once

#include <cstdint>
#include <string>

#include "elf/image.h"
#include "platform/platform.h"
#include "platform/status.h"

namespace zv {

// What loading the input revealed about the module to make.
struct InputFacts {
  bool parsed = false;             // the file parsed as an ELF image (also when a later check refused it)
  uint32_t sdaBase = 0;            // _SDA_BASE_, or the default base
  uint32_t sda2Base = 0;           // _SDA2_BASE_, or the default base
  bool outputIsVkx = false;        // small data above the default base, or -vkx before the input
  bool checkNoSda = false;         // a VKM: its small-data relocations are refused
  bool emptyNullRelaSeen = false;  // a relocation section aimed at a null section was emptied
};

// What loading needs from the command line as read so far.
struct LoadSettings {
  bool forceVkx = false;  // -vkx
  uint32_t threads = 1;   // threads the walks over large tables may use
};

// Loads `file` (named `name` in messages) into `image` and fills `facts`.
// Fails with -1 or a 0xBAD000xx code; prints its own messages. The image
// keeps pointing into the file's bytes, so the caller keeps the file mapped
// as long as it uses the image.
Status loadInputElf(Console& con, MappedFile& file, const std::string& name, const LoadSettings& settings,
                    ElfImage& image, InputFacts& facts);

}  // namespace zv
