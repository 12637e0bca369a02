// POSIX implementation of the platform layer: mmap for mapped files, lexical
// path resolution against getcwd, and mkstemp + rename for output files.
#include "platform/platform.h"
#include "platform/entry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

void consoleWrite(Console& con, const char* data, size_t length) {
  if (con.capture)
    con.text.append(data, length);
  else
    fwrite(data, 1, length, stdout);
}

void consoleFlush(Console& con) {
  if (!con.capture) fflush(stdout);
}

// A failed system call's error number as the value of a failure.
static Status errorStatus(int err) { return Status::withValue(static_cast<uint32_t>(err)); }

static uint32_t mapError(int err) {
  switch (err) {
    case ENOENT:
      return 0x80070002;
    case ENOTDIR:
      return 0x80070003;
    case EMFILE:
    case ENFILE:
      return 0x80070004;
    case EACCES:
    case EPERM:
    case EISDIR:
      return 0x80070005;
    case ENOMEM:
      return kErrOutOfMemory;
    default:
      return kErrFail;
  }
}

Status mapFile(const std::string& path, MappedFile*& out) {
  out = nullptr;
  if (path.empty()) return Status::withValue(kErrPointer);
  // O_NONBLOCK: a pipe is refused below instead of waiting for a writer.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Status::withValue(mapError(errno));
  struct stat st;
  if (fstat(fd, &st) != 0) {
    uint32_t e = mapError(errno);
    close(fd);
    return Status::withValue(e);
  }
  if (S_ISDIR(st.st_mode)) {
    close(fd);
    return Status::withValue(0x80070005);
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (!S_ISREG(st.st_mode) || size == 0 || size >= (uint64_t(1) << 32)) {
    close(fd);
    return Status::withValue(kErrFail);
  }
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) {
    close(fd);
    return Status::withValue(kErrFail);
  }
  auto* file = new (std::nothrow) MappedFile;
  if (!file) {
    munmap(view, size);
    close(fd);
    return Status::withValue(kErrOutOfMemory);
  }
  file->path = path;
  file->fd = fd;
  file->size = size;
  file->base = static_cast<uint8_t*>(view);
  out = file;
  return {};
}

bool isMappedFile(const MappedFile* file, const std::string& path) {
  struct stat mapped, named;
  if (!file || file->fd < 0 || fstat(file->fd, &mapped) != 0 || stat(path.c_str(), &named) != 0) return false;
  return mapped.st_dev == named.st_dev && mapped.st_ino == named.st_ino;
}

MappedFile* mapMemory(std::vector<uint8_t> bytes) {
  auto* file = new MappedFile;
  file->memory = std::move(bytes);
  file->size = file->memory.size();
  file->base = file->memory.empty() ? nullptr : file->memory.data();
  return file;
}

namespace {
constexpr size_t kFilledMapping = size_t{256} << 10;  // smaller storage comes from malloc
}  // namespace

void* allocateFilledMemory(size_t size) {
  if (size < kFilledMapping) {
    void* memory = malloc(size == 0 ? 1 : size);
    if (!memory) throw std::bad_alloc();
    return memory;
  }
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  return memory;
}

void releaseFilledMemory(void* memory, size_t size) {
  if (!memory) return;
  if (size < kFilledMapping)
    free(memory);
  else
    munmap(memory, size);
}

int32_t releaseMappedFile(MappedFile* file) {
  if (!file) return 0;
  int32_t left = __atomic_sub_fetch(&file->refs, 1, __ATOMIC_SEQ_CST);
  if (left > 0) return left;
  if (file->fd >= 0) {
    munmap(file->base, file->size);
    close(file->fd);
  }
  delete file;
  return left;
}

bool fullPath(const std::string& path, std::string& out, size_t& fileNamePos) {
  fileNamePos = std::string::npos;
  if (path.empty()) return false;
  std::string joined;
  if (path[0] == '/') {
    joined = path;
  } else {
    std::vector<char> buf(4096);
    if (!getcwd(buf.data(), buf.size())) return false;
    joined = std::string(buf.data()) + "/" + path;
  }
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < joined.size()) {
    size_t j = joined.find('/', i);
    if (j == std::string::npos) j = joined.size();
    std::string seg = joined.substr(i, j - i);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    i = j + 1;
  }
  std::string result;
  for (const auto& p : parts) result += "/" + p;
  bool endsInSlash = joined.back() == '/';
  if (result.empty()) result.push_back('/');
  if (endsInSlash) {
    if (result.back() != '/') result += '/';
  } else if (!parts.empty()) {
    fileNamePos = result.size() - parts.back().size();
  }
  if (result.size() > kMaxPath) return false;
  out = result;
  return true;
}

std::optional<std::string> getEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

std::string executablePath() {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
  return n > 0 && static_cast<size_t>(n) < buf.size() ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

void setEnv(const char* name, const std::optional<std::string>& value) {
  if (value)
    setenv(name, value->c_str(), 1);
  else
    unsetenv(name);
}

int64_t currentTime() { return static_cast<int64_t>(time(nullptr)); }

int openWithoutWaiting(const char* path, int flags) {
  int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// Follows a chain of symbolic links to the name it ends at, so an output
// written through a link replaces the file the link names and the link stays.
// A relative link target is read against the folder of the link. Gives up
// (and returns the path as far as it got) after 40 links, as the system does.
static std::string resolveLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> buf(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
    ssize_t n = readlink(current.c_str(), buf.data(), buf.size() - 1);
    if (n <= 0 || static_cast<size_t>(n) >= buf.size() - 1) return current;
    std::string target(buf.data(), static_cast<size_t>(n));
    if (target[0] != '/') {
      size_t slash = current.rfind('/');
      if (slash != std::string::npos) target = current.substr(0, slash + 1) + target;
    }
    current = target;
  }
  return current;
}

Status openOutputFile(const std::string& path, OutputFile& out) {
  out = OutputFile{};
  if (path.empty()) return errorStatus(ENOENT);
  out.path = resolveLinks(path);
  struct stat st;
  bool exists = stat(out.path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    int fd = openWithoutWaiting(out.path.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0) return errorStatus(errno);
    out.stream = fdopen(fd, "wb");
    if (!out.stream) {
      int e = errno;
      close(fd);
      return errorStatus(e);
    }
    return {};
  }
  std::string temp = out.path + ".tmpXXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return errorStatus(errno);
  // A replaced file keeps its permission bits; a new one gets the usual
  // 0666 less the umask.
  mode_t mode;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
  out.stream = fdopen(fd, "wb");
  if (!out.stream) {
    int e = errno;
    close(fd);
    unlink(name.data());
    return errorStatus(e);
  }
  out.tempPath = name.data();
  return {};
}

// The system keeps a file's new bytes in memory in blocks as large as each
// write allows. Blocks of 2 MiB and more come from memory a virtual machine's
// host may have taken back while it lay unused, and every page of it is
// slow to get back: a 32 MiB module written in one go took 100-250 ms
// after a pause of a few seconds, against 7 ms in writes of 1 MiB, and the
// smaller writes are no slower when memory is at hand. (The stream's own
// buffer stays far below 1 MiB, so it never joins the pieces again.)
bool writeOutputBytes(OutputFile& out, const uint8_t* data, uint64_t size) {
  constexpr uint64_t kWriteMax = uint64_t{1} << 20;
  for (uint64_t done = 0; done < size;) {
    size_t n = static_cast<size_t>(size - done < kWriteMax ? size - done : kWriteMax);
    if (fwrite(data + done, 1, n, out.stream) != n) return false;
    done += n;
  }
  return true;
}

// Puts the finished file under its name. A regular file already there is
// swapped with the new one in one step and the old one then removed, so the
// name never goes missing; a plain rename over it would make ext4 write the
// new file out to disk at once (its guard for files replaced by rename), which
// costs a large module tens of milliseconds. Where the system cannot swap, a
// rename.
static int replaceWithTempFile(const std::string& temp, const std::string& path) {
#ifdef RENAME_EXCHANGE
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
    unlink(temp.c_str());  // the old file, now under the temporary name
    return 0;
  }
#endif
  return rename(temp.c_str(), path.c_str()) == 0 ? 0 : errno;
}

Status commitOutputFile(OutputFile& out) {
  if (!out.stream) return errorStatus(EBADF);
  int err = 0;
  if (fflush(out.stream) != 0) err = errno ? errno : EIO;
  if (fclose(out.stream) != 0 && !err) err = errno ? errno : EIO;
  out.stream = nullptr;
  if (out.tempPath.empty()) return errorStatus(err);
  if (!err) err = replaceWithTempFile(out.tempPath, out.path);
  if (err) unlink(out.tempPath.c_str());
  out.tempPath.clear();
  return errorStatus(err);
}

void discardOutputFile(OutputFile& out) {
  if (out.stream) fclose(out.stream);
  out.stream = nullptr;
  if (!out.tempPath.empty()) unlink(out.tempPath.c_str());
  out.tempPath.clear();
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  out.clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

size_t pathLength(const std::string& path) { return path.size(); }

FILE* openRegularFile(const std::string& path) {
  int fd = openWithoutWaiting(path.c_str(), O_RDONLY);
  if (fd < 0) return nullptr;
  struct stat st;
  FILE* stream = nullptr;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(stream = fdopen(fd, "rb"))) {
    close(fd);
    return nullptr;
  }
  return stream;
}

void breakIfDebugged() {}

int startProgram(int argc, char** argv, ProgramBody body) { return body(argc, argv); }

}  // namespace zv
