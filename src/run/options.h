// The settings of one conversion: what the command line asked for, with the
// defaults and the paths the driver derives from it right after reading it.
// Once the conversion starts they are read-only; what the input reveals is
// kept apart (InputFacts, elf/input.h).
#pragma once

#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <vector>

namespace zv {

// One loader tag, name=value; it ends up in the FileInfo of the module.
struct LoaderTag {
  std::string name;
  std::string value;
};

// The environment variables a run uses, read once when the run starts; the
// stages read them here, never from the environment.
struct Environment {
  std::optional<std::string> sdkRoot;          // EDBA_ROOT: the SDK, its loader tags file
  std::optional<std::string> toolchainRoot;    // GHS_ROOT: where the archiver lives
  std::optional<std::string> sourceDateEpoch;  // SOURCE_DATE_EPOCH: the import library's member date
  std::optional<std::string> threads;          // ZODAVOV_THREADS: how many threads a run uses
};

struct Options {
  std::optional<std::string> inputPath;  // the input argument as typed
  std::string outputPath;                // full path of the VKM/VKX file
  std::optional<std::string> importLibPath;
  std::string outputPathNarrow;
  bool newSymbolTable = true;  // -new / -old
  bool stripStrings = false;   // -s
  bool verbose = false;        // -v
  bool verbose2 = false;       // -v2
  bool verbose3 = false;       // -v3
  uint32_t stackSize = 0;
  uint32_t heapSize = 0;
  uint32_t padAllPercent = 0;
  int32_t sizeData = -1;
  int32_t sizeText = -1;
  int32_t sizeTemp = -1;
  int32_t sizeLoad = -1;
  bool byteSizesGiven = false;
  uint32_t sizeFileInfo = 0;
  bool compress = true;
  int32_t compressLevel = -1;
  uint32_t threads = 1;  // sections compressed at once (ZODAVOV_THREADS or the machine's count)
  bool forceVkx = false;
  bool checkNoSda = false;  // -checknosda: refuse small-data relocations in a VKX too
  bool dynamicOnly = false;
  std::list<LoaderTag> loaderTags;  // the -t tags, newest first
  bool warnEmptyRela = false;
  bool noLib = false;
  bool allowCode32 = false;
  std::vector<std::string> sourceRoots;  // command-line order, no duplicates
};

}  // namespace zv
