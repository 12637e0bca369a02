// The import library file: a Unix ar archive with one member, the stub
// object. The archive is built whole in memory; the file is then written in
// a fixed order (magic, member header, zero fill of the member, ELF header,
// each section's contents, section headers) so that every failed step has a
// message of its own, into a temporary file that replaces the library only
// once it is complete. The toolchain's archiver then indexes the library.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "importlib/importlib.h"

namespace zv {

namespace {

constexpr char kArchiveMagic[] = "!<arch>\n";
constexpr uint32_t kMagicSize = 8;
constexpr uint32_t kMemberHeaderSize = 60;
constexpr uint32_t kMemberStart = kMagicSize + kMemberHeaderSize;  // 68
constexpr size_t kMemberNameChars = 13;

// `text` padded on the right with spaces, or cut, to `width` characters.
std::string field(std::string text, size_t width) {
  text.resize(width, ' ');
  return text;
}

// A whole number of seconds, digits only; false for anything else.
bool parseSeconds(const std::string& text, int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// errno after a failed stream call; never 0, so that it always fails the stage.
int streamError() { return errno != 0 ? errno : EIO; }

bool put(FILE* f, const uint8_t* data, size_t length) {
  errno = 0;
  return fwrite(data, 1, length, f) == length;
}

bool seekTo(FILE* f, uint64_t offset) {
  errno = 0;
  return fseek(f, static_cast<long>(offset), SEEK_SET) == 0;
}

// Says `message` and fails with the error number of the step that just failed.
Status stepFailed(Context& ctx, const char* message) {
  int err = streamError();
  say(ctx, "%s", message);
  return Status::withValue(static_cast<uint32_t>(err));
}

// Writes the archive into `f` step by step. Fails with the error number of
// the first failure. A short write of the magic or the member header is
// reported and the writing goes on; should the rest succeed, the library is
// still damaged, so that error number is the result.
Status writeArchiveSteps(Context& ctx, FILE* f, const std::vector<uint8_t>& ar, const StubObject& stub) {
  const uint8_t* member = ar.data() + kMemberStart;
  Status headerError;
  if (!put(f, ar.data(), kMagicSize))
    headerError = stepFailed(ctx, "***Error: Could not write to output library file.\n");
  if (!put(f, ar.data() + kMagicSize, kMemberHeaderSize)) {
    Status err = stepFailed(ctx, "***Error: Could not write to output library file.\n");
    if (headerError.ok()) headerError = err;
  }
  static const uint8_t kZeros[4] = {0, 0, 0, 0};
  size_t memberSize = stub.bytes.size();
  for (size_t done = 0; done < memberSize; done += sizeof kZeros) {
    size_t n = std::min(sizeof kZeros, memberSize - done);
    if (!put(f, kZeros, n)) return stepFailed(ctx, "*** error writing zeros to output file.\n");
  }
  if (!seekTo(f, kMemberStart)) return stepFailed(ctx, "*** error seeking in output file.\n");
  if (!put(f, member, kEhdrSize)) return stepFailed(ctx, "*** error writing to output file.\n");
  for (const StubPiece& piece : stub.contents) {
    if (!seekTo(f, uint64_t(kMemberStart) + piece.offset))
      return stepFailed(ctx, "*** error seeking in output file to write section data.\n");
    if (!put(f, member + piece.offset, piece.length)) return stepFailed(ctx, "*** error writing to output file.\n");
  }
  if (!seekTo(f, uint64_t(kMemberStart) + stub.shoff))
    return stepFailed(ctx, "*** error seeking in output file to write section headers.\n");
  if (!put(f, member + stub.shoff, size_t(stub.shnum) * kShdrSize))
    return stepFailed(ctx, "*** error writing section headers.\n");
  return headerError;
}

// Writes the library file; the archiver runs only on a complete one.
Status writeLibraryFile(Context& ctx, const std::string& path, const std::vector<uint8_t>& ar, const StubObject& stub) {
  OutputFile out;
  if (Status r = openOutputFile(path, out); !r.ok()) {
    say(ctx, "***Error: Could not open output file for writing.\n");
    return r;
  }
  if (Status r = writeArchiveSteps(ctx, out.stream, ar, stub); !r.ok()) {
    discardOutputFile(out);
    return r;
  }
  if (Status r = commitOutputFile(out); !r.ok()) {
    say(ctx, "***Error: Could not write to output library file.\n");
    return r;
  }
  runArchiver(ctx, path);
  return {};
}

}  // namespace

int32_t archiveDate(Context& ctx) {
  const std::optional<std::string>& epoch = ctx.env.sourceDateEpoch;
  if (epoch && !epoch->empty()) {
    int64_t seconds = 0;
    // The member date is a 32-bit count of seconds; a later date would wrap.
    if (parseSeconds(*epoch, seconds) && seconds <= INT32_MAX) return static_cast<int32_t>(seconds);
    say(ctx,
        "WARN: SOURCE_DATE_EPOCH \"%s\" is not a whole number of seconds below 2147483648; the current time is "
        "used.\n",
        epoch->c_str());
  }
  return static_cast<int32_t>(currentTime());
}

std::vector<uint8_t> buildImportArchive(const StubObject& stub, const std::string& libName, int32_t date) {
  std::string header = field(libName.substr(0, kMemberNameChars) + ".o/", 16);
  header += field(std::to_string(date), 12);
  header += "0     0     100666  ";
  header += field(std::to_string(stub.bytes.size()), 10);
  header += "`\n";
  std::vector<uint8_t> ar(kMagicSize + header.size() + stub.bytes.size());
  std::copy_n(kArchiveMagic, kMagicSize, ar.begin());
  std::copy(header.begin(), header.end(), ar.begin() + kMagicSize);
  std::copy(stub.bytes.begin(), stub.bytes.end(), ar.begin() + kMagicSize + static_cast<std::ptrdiff_t>(header.size()));
  return ar;
}

Status writeImportArchive(Context& ctx, const std::string& libName, uint32_t funcExportIndex, uint32_t dataExportIndex,
                          uint32_t dataExportRelaIndex) {
  StubObject stub;
  if (Status r = buildImportStub(ctx, libName, funcExportIndex, dataExportIndex, dataExportRelaIndex, stub); !r.ok())
    return r;
  std::vector<uint8_t> ar = buildImportArchive(stub, libName, archiveDate(ctx));
  if (ctx.inMemory) {
    ctx.libraryBytes = std::move(ar);
    return {};
  }
  return writeLibraryFile(ctx, ctx.opt.importLibPath.value_or(std::string()), ar, stub);
}

}  // namespace zv
