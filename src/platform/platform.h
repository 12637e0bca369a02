// The platform layer: every call into the operating system goes through
// here, so the rest of the tool is plain, portable C++. On this host the
// layer maps files copy-on-write with mmap, resolves paths lexically, writes
// output files through a temporary file that is renamed into place, and
// starts the toolchain's archiver without a shell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace zv {

// Whether this build runs on Windows, where a few of the tool's rules differ
// (the archiver's path separator, exit values of 32 bits).
#if defined(_WIN32)
constexpr bool kWindowsHost = true;
#else
constexpr bool kWindowsHost = false;
#endif

// --- Standard output -------------------------------------------------------
// All messages of a run pass through one console. The executable writes them
// straight to standard output; tests and the fuzzer capture them instead.
struct Console {
  bool capture = false;  // keep the text in `text` instead of printing it
  std::string text;
};
void consoleWrite(Console& con, const char* data, size_t length);
void consoleFlush(Console& con);

// --- Mapped files ----------------------------------------------------------
// A file brought into memory whole. The view is private and writable: the
// tool converts headers in place, and none of it ever reaches the file.
struct MappedFile {
  int32_t refs = 1;
  std::string path;
  int fd = -1;
  void* fileHandle = nullptr;     // Windows: the open file
  void* mappingHandle = nullptr;  // Windows: the file-mapping object
  uint64_t size = 0;
  uint8_t* base = nullptr;
  std::vector<uint8_t> memory;  // backing store of an in-memory "file"
};

// Error values, in the form the tool reports them.
constexpr uint32_t kErrPointer = 0x8000FFFF;      // no path given
constexpr uint32_t kErrFail = 0x80004005;         // anything else
constexpr uint32_t kErrOutOfMemory = 0x8007000E;  // no memory

// Maps `path` copy-on-write; on success `out` holds a new record with one
// reference. A failure carries the error value (0x8007xxxx, 0x80004005, ...).
Status mapFile(const std::string& path, MappedFile*& out);
// Whether `path` names the very file that is mapped (the same file, through
// any name or link). False for an in-memory file or a path that does not exist.
bool isMappedFile(const MappedFile* file, const std::string& path);
// Wraps bytes already in memory as a mapped file (for in-process runs).
MappedFile* mapMemory(std::vector<uint8_t> bytes);
// Drops one reference; at zero the view is unmapped and the record freed.
// Returns the reference count after the decrement.
int32_t releaseMappedFile(MappedFile* file);

// --- Memory filled at once -------------------------------------------------
// Storage the caller fills completely as soon as it has it: the copies of
// the tables a conversion rewrites, the per-symbol records. On a virtual
// machine a page fault costs microseconds, and a 32 MiB module's tables
// take thousands of them one by one; where the host can, storage of
// 256 KiB and more is handed out with all its pages already in place, in
// one call. Never nullptr: throws std::bad_alloc like operator new.
void* allocateFilledMemory(size_t size);
void releaseFilledMemory(void* memory, size_t size);

// The allocator for vectors of such storage.
template <typename T>
struct FilledAllocator {
  using value_type = T;
  FilledAllocator() = default;
  template <typename U>
  FilledAllocator(const FilledAllocator<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(allocateFilledMemory(n * sizeof(T))); }
  void deallocate(T* p, size_t n) { releaseFilledMemory(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const FilledAllocator<U>&) const {
    return true;
  }
};

template <typename T>
using FilledVector = std::vector<T, FilledAllocator<T>>;

// --- Paths -----------------------------------------------------------------
constexpr size_t kMaxPath = 259;  // characters of a full path, without terminator

// Resolves `path` against the current directory and normalises it lexically
// (no file-system access). `fileNamePos` is the position of the file-name
// part, or std::string::npos when the path names a directory (ends in '/').
// Returns false when the path cannot be resolved or is longer than kMaxPath.
bool fullPath(const std::string& path, std::string& out, size_t& fileNamePos);
// The length of a path as the host counts it against kMaxPath: UTF-16 units
// on Windows, bytes elsewhere.
size_t pathLength(const std::string& path);

// --- Environment and time --------------------------------------------------
std::optional<std::string> getEnv(const char* name);
// The full path of the running executable ("" when the host cannot tell).
std::string executablePath();
// Sets a variable of this process's environment, or removes it (nullopt).
void setEnv(const char* name, const std::optional<std::string>& value);
int64_t currentTime();

// Opens `path` for reading when it names a regular file (not a directory,
// pipe or device); nullptr otherwise. The stream reads bytes unchanged.
FILE* openRegularFile(const std::string& path);

// After an internal warning that should never show: stops in the debugger
// when one is attached (Windows), nothing otherwise.
void breakIfDebugged();

// Opens `path` without waiting for the other end of a named pipe, then makes
// reads and writes blocking again. A file descriptor, or -1 with errno set.
int openWithoutWaiting(const char* path, int flags);

// --- Output files ----------------------------------------------------------
// An output file is written in full to a temporary file beside it and only
// renamed over the final name once complete, so a failed run never leaves a
// half-written file and never harms an existing one. A path that exists and
// is not a regular file (a device, a FIFO, a directory) is opened directly;
// a FIFO that nobody reads fails at once (ENXIO) instead of waiting.
// A path that is a symbolic link is followed: the file the link names is the
// one replaced (or created), so the link stays, and a replaced file keeps its
// permission bits.
struct OutputFile {
  FILE* stream = nullptr;
  std::string path;      // the final name, after symbolic links
  std::string tempPath;  // empty when writing directly
};
// A failure carries the system error number (ENOENT for an empty path).
Status openOutputFile(const std::string& path, OutputFile& out);
// Appends `size` bytes to the file; false when the system takes fewer.
// Large blocks go to the system a megabyte at a time (see the POSIX
// implementation: a file written in larger pieces can be slow to cache).
[[nodiscard]] bool writeOutputBytes(OutputFile& out, const uint8_t* data, uint64_t size);
// Closes the stream and moves the file into place. A failure carries the
// system error number; the temporary file is then removed.
Status commitOutputFile(OutputFile& out);
// Closes the stream and removes the temporary file (nothing to undo when direct).
void discardOutputFile(OutputFile& out);
// Reads a whole file (used by tests and tools); false when it cannot be read.
bool readWholeFile(const std::string& path, std::vector<uint8_t>& out);

}  // namespace zv
