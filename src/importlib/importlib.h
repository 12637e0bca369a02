// The import library: an ar archive holding one ELF stub object that declares
// the module's exports, which other modules link against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"
#include "run/context.h"

namespace zv {

Status writeImportLibrary(Context& ctx);  // the stage

// The library name: the output file's name with its extension, after the last
// '/' or '\', with ASCII capitals lowered ("C:\w\MyLib.vkm" gives "mylib.vkm").
std::string importLibraryName(const std::string& outputPath);

// Where one section's contents lie in the stub object and how many bytes of
// them are written (an import section writes its header and the library name;
// its tail is the zero fill).
struct StubPiece {
  uint32_t offset = 0;
  uint32_t length = 0;
};

// The stub object, complete and in its own byte order, with the positions the
// archive writer needs to put it into the file piece by piece.
struct StubObject {
  std::vector<uint8_t> bytes;       // the whole object; its size is a multiple of 64
  std::vector<StubPiece> contents;  // sections with contents, in index order
  uint32_t shoff = 0;               // section header table
  uint32_t shnum = 0;
};

// Builds the stub object from the input's export sections (index 0: absent).
// Fails with -1; prints its own messages.
Status buildImportStub(Context& ctx, const std::string& libName, uint32_t funcExportIndex, uint32_t dataExportIndex,
                       uint32_t dataExportRelaIndex, StubObject& out);

// The archive member's date: SOURCE_DATE_EPOCH when it is set (reproducible
// builds), else the current time; as a signed 32-bit number of seconds.
int32_t archiveDate(Context& ctx);

// The whole archive: magic, member header, stub object.
std::vector<uint8_t> buildImportArchive(const StubObject& stub, const std::string& libName, int32_t date);

// Builds the stub object and the archive and writes it to the import library
// path (or keeps it in ctx.libraryBytes for in-memory runs), then runs the
// archiver on it. Fails with -1 or the system error number of a failed write.
Status writeImportArchive(Context& ctx, const std::string& libName, uint32_t funcExportIndex, uint32_t dataExportIndex,
                          uint32_t dataExportRelaIndex);

// Runs the toolchain's archiver ("ax -ts") on the finished library. Its
// failure is reported but changes nothing.
void runArchiver(Context& ctx, const std::string& libraryPath);

}  // namespace zv
