// Windows implementation of the platform layer, the tool's native build host:
// files mapped copy-on-write with CreateFileMappingW, full paths from
// GetFullPathNameW (259 UTF-16 units at most), output files written to a
// temporary file beside the target and moved over it with MoveFileExW, and
// console output in UTF-16. Every path crosses the system boundary in its
// wide form; inside the tool it stays UTF-8, as on every host.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <new>

#include "platform/entry.h"
#include "platform/platform.h"
#include "platform/windows_text.h"

namespace zv {

// --- Text ------------------------------------------------------------------

bool toWide(const std::string& text, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<size_t>(INT32_MAX)) return false;
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(),
                             n) == n;
}

bool toUtf8(const std::wstring& text, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<size_t>(INT32_MAX)) return false;
  int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(), n,
                             nullptr, nullptr) == n;
}

int errnoFromWindowsError(uint32_t error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    default:
      return EACCES;  // access denied, sharing and lock violations, write protection
  }
}

// A path in its wide form, or an empty one when it is not valid UTF-8 (no
// file has an empty name, so the system call then fails as for a bad name).
static std::wstring widePath(const std::string& path) {
  std::wstring w;
  if (!toWide(path, w)) w.clear();
  return w;
}

// --- Program start ----------------------------------------------------------

int startProgram(int argc, char** argv, ProgramBody body) {
  // No "insert a disk" or "cannot open file" dialogs: failures come back as errors.
  SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  int result = body(argc, argv);
  fflush(stdout);
  return result;
}

int startProgramWide(int argc, wchar_t** argv, ProgramBody body) {
  std::vector<std::string> args(argc > 0 ? static_cast<size_t>(argc) : 0);
  for (size_t i = 0; i < args.size(); ++i) {
    if (!toUtf8(argv[i], args[i])) {
      printf("Error: argument %u is not valid UTF-16 text (it holds an unpaired surrogate). Return -1.\n",
             static_cast<unsigned>(i));
      fflush(stdout);
      return -1;
    }
  }
  std::vector<char*> pointers;
  pointers.reserve(args.size() + 1);
  for (std::string& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  return startProgram(argc, pointers.data(), body);
}

// --- Standard output -------------------------------------------------------

// A console shows UTF-16; anything else (a pipe, a file) gets the UTF-8 bytes
// through the runtime's text-mode stream, which ends lines in CR LF.
void consoleWrite(Console& con, const char* data, size_t length) {
  if (con.capture) {
    con.text.append(data, length);
    return;
  }
  HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  std::wstring wide;
  if (h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode) || !toWide(std::string(data, length), wide)) {
    fwrite(data, 1, length, stdout);
    return;
  }
  fflush(stdout);
  std::wstring lines;
  lines.reserve(wide.size() + wide.size() / 16);
  for (wchar_t c : wide) {
    if (c == L'\n') lines.push_back(L'\r');
    lines.push_back(c);
  }
  size_t done = 0;
  while (done < lines.size()) {
    DWORD written = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(lines.size() - done, 16384));
    if (!WriteConsoleW(h, lines.data() + done, chunk, &written, nullptr) || written == 0) break;
    done += written;
  }
}

void consoleFlush(Console& con) {
  if (!con.capture) fflush(stdout);
}

// --- Mapped files ----------------------------------------------------------

// A failed system call's error number as the value of a failure.
static Status errorStatus(int err) { return Status::withValue(static_cast<uint32_t>(err)); }

static uint32_t hresultFromError(DWORD error) {
  if (static_cast<int32_t>(error) <= 0) return error;
  return 0x80070000u | (error & 0xFFFFu);
}

Status mapFile(const std::string& path, MappedFile*& out) {
  out = nullptr;
  if (path.empty()) return Status::withValue(kErrPointer);
  std::wstring wide = widePath(path);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Status::withValue(hresultFromError(GetLastError()));
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return Status::withValue(kErrFail);
  }
  if (!GetFileSizeEx(file, &size)) {
    uint32_t e = hresultFromError(GetLastError());
    CloseHandle(file);
    return Status::withValue(e);
  }
  if (size.QuadPart <= 0 || static_cast<uint64_t>(size.QuadPart) >= (uint64_t(1) << 32)) {
    CloseHandle(file);
    return Status::withValue(kErrFail);
  }
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_WRITECOPY, 0, 0, nullptr);
  void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_COPY, 0, 0, 0) : nullptr;
  if (!view) {
    if (mapping) CloseHandle(mapping);
    CloseHandle(file);
    return Status::withValue(kErrFail);
  }
  auto* record = new (std::nothrow) MappedFile;
  if (!record) {
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(file);
    return Status::withValue(kErrOutOfMemory);
  }
  record->path = path;
  record->fileHandle = file;
  record->mappingHandle = mapping;
  record->size = static_cast<uint64_t>(size.QuadPart);
  record->base = static_cast<uint8_t*>(view);
  out = record;
  return {};
}

// Volume serial number and file index name one file, whatever path or link
// led to it.
struct FileIdentity {
  DWORD volume = 0, high = 0, low = 0;
  bool operator==(const FileIdentity&) const = default;
};

static bool identityOf(HANDLE h, FileIdentity& id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// Opens an existing file or folder only to ask about it (no read or write access).
static HANDLE openForQuery(const std::wstring& path) {
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool isMappedFile(const MappedFile* file, const std::string& path) {
  if (!file || !file->fileHandle) return false;
  HANDLE named = openForQuery(widePath(path));
  if (named == INVALID_HANDLE_VALUE) return false;
  FileIdentity a, b;
  bool same = identityOf(static_cast<HANDLE>(file->fileHandle), a) && identityOf(named, b) && a == b;
  CloseHandle(named);
  return same;
}

MappedFile* mapMemory(std::vector<uint8_t> bytes) {
  auto* file = new MappedFile;
  file->memory = std::move(bytes);
  file->size = file->memory.size();
  file->base = file->memory.empty() ? nullptr : file->memory.data();
  return file;
}

void* allocateFilledMemory(size_t size) {
  void* memory = malloc(size == 0 ? 1 : size);
  if (!memory) throw std::bad_alloc();
  return memory;
}

void releaseFilledMemory(void* memory, size_t) { free(memory); }

int32_t releaseMappedFile(MappedFile* file) {
  if (!file) return 0;
  int32_t left = std::atomic_ref<int32_t>(file->refs).fetch_sub(1) - 1;
  if (left > 0) return left;
  if (file->fileHandle) {
    UnmapViewOfFile(file->base);
    CloseHandle(static_cast<HANDLE>(file->mappingHandle));
    CloseHandle(static_cast<HANDLE>(file->fileHandle));
  }
  delete file;
  return left;
}

// --- Paths -----------------------------------------------------------------

bool fullPath(const std::string& path, std::string& out, size_t& fileNamePos) {
  fileNamePos = std::string::npos;
  if (path.empty()) return false;
  std::wstring wide;
  if (!toWide(path, wide)) return false;
  wchar_t buffer[kMaxPath + 1];
  wchar_t* filePart = nullptr;
  DWORD n = GetFullPathNameW(wide.c_str(), kMaxPath + 1, buffer, &filePart);
  if (n == 0 || n > kMaxPath) return false;
  std::string full, head;
  if (!toUtf8(std::wstring(buffer, n), full)) return false;
  if (filePart && filePart >= buffer && filePart < buffer + n) {
    if (!toUtf8(std::wstring(buffer, static_cast<size_t>(filePart - buffer)), head)) return false;
    fileNamePos = head.size();
  }
  out = full;
  return true;
}

size_t pathLength(const std::string& path) {
  std::wstring wide;
  return toWide(path, wide) ? wide.size() : path.size();
}

// --- Environment and time --------------------------------------------------

std::optional<std::string> getEnv(const char* name) {
  std::wstring wideName;
  if (!toWide(name, wideName)) return std::nullopt;
  const wchar_t* value = _wgetenv(wideName.c_str());
  std::string text;
  if (!value || !toUtf8(value, text)) return std::nullopt;
  return text;
}

std::string executablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  std::string text;
  return toUtf8(path, text) ? text : std::string();
}

void setEnv(const char* name, const std::optional<std::string>& value) {
  std::wstring wideName, wideValue;
  if (!toWide(name, wideName) || (value && !toWide(*value, wideValue))) return;
  _wputenv_s(wideName.c_str(), value ? wideValue.c_str() : L"");
}

int64_t currentTime() { return static_cast<int64_t>(time(nullptr)); }

// --- Streams on handles ----------------------------------------------------

// A C stream over an open handle; the handle belongs to the stream afterwards.
static FILE* streamOnHandle(HANDLE h, int flags, const char* mode) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  FILE* stream = _fdopen(fd, mode);
  if (!stream) _close(fd);
  return stream;
}

FILE* openRegularFile(const std::string& path) {
  HANDLE h = CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(h);
    return nullptr;
  }
  return streamOnHandle(h, _O_RDONLY, "rb");
}

void breakIfDebugged() {
  if (IsDebuggerPresent()) DebugBreak();
}

// --- Output files ----------------------------------------------------------

// The full path with the \\?\ prefix, so that a temporary name a few
// characters longer than the target is not held to the 259-unit limit.
static std::wstring longFormOf(const std::wstring& path) {
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  full.resize(n);
  if (full.rfind(L"\\\\", 0) == 0) return full;  // already \\?\, \\.\ or a UNC path
  return L"\\\\?\\" + full;
}

// The file a symbolic link (or a chain of them) finally names, so the file is
// replaced and the link stays; the path itself when it is no link.
static std::wstring finalTarget(HANDLE h, const std::wstring& path) {
  DWORD n = GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0) return path;
  std::wstring target(n, L'\0');
  n = GetFinalPathNameByHandleW(h, target.data(), n, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= target.size()) return path;
  target.resize(n);
  return target;
}

// A fresh name beside the target: <target>.tmp followed by six characters.
static std::wstring temporaryName(const std::wstring& target, uint32_t attempt) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
  uint64_t seed =
      (uint64_t(GetCurrentProcessId()) << 32) ^ GetTickCount64() ^ (uint64_t(attempt) * 0x9E3779B97F4A7C15ull);
  std::wstring name = target + L".tmp";
  for (int i = 0; i < 6; ++i) {
    name.push_back(kDigits[seed % 36]);
    seed /= 36;
  }
  return name;
}

Status openOutputFile(const std::string& path, OutputFile& out) {
  out = OutputFile{};
  out.path = path;
  std::wstring wide;
  if (path.empty() || !toWide(path, wide)) return errorStatus(ENOENT);
  std::wstring target = longFormOf(wide);

  HANDLE existing = openForQuery(wide);
  if (existing != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info{};
    bool disk = GetFileType(existing) == FILE_TYPE_DISK;
    bool folder =
        disk && GetFileInformationByHandle(existing, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (disk && !folder) target = finalTarget(existing, target);
    CloseHandle(existing);
    if (folder) return errorStatus(EISDIR);
    if (!disk) {
      // A device such as NUL is written directly.
      HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
      if (h == INVALID_HANDLE_VALUE) return errorStatus(errnoFromWindowsError(GetLastError()));
      out.stream = streamOnHandle(h, _O_WRONLY, "wb");
      return out.stream ? Status() : errorStatus(errno);
    }
    // A file another process holds open without letting others replace it
    // fails now, as opening it for writing would, and stays as it is.
    HANDLE probe = CreateFileW(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return errorStatus(errnoFromWindowsError(GetLastError()));
    CloseHandle(probe);
  }

  for (uint32_t attempt = 0; attempt < 100; ++attempt) {
    std::wstring temp = temporaryName(target, attempt);
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD e = GetLastError();
      if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) continue;
      return errorStatus(errnoFromWindowsError(e));
    }
    out.stream = streamOnHandle(h, _O_WRONLY, "wb");
    if (!out.stream) {
      int e = errno;
      DeleteFileW(temp.c_str());
      return errorStatus(e);
    }
    std::string tempUtf8, targetUtf8;
    toUtf8(temp, tempUtf8);
    toUtf8(target, targetUtf8);
    out.tempPath = tempUtf8;
    out.path = targetUtf8;
    return {};
  }
  return errorStatus(EEXIST);
}

bool writeOutputBytes(OutputFile& out, const uint8_t* data, uint64_t size) {
  return size == 0 || fwrite(data, 1, static_cast<size_t>(size), out.stream) == size;
}

Status commitOutputFile(OutputFile& out) {
  if (!out.stream) return errorStatus(EBADF);
  int err = 0;
  if (fflush(out.stream) != 0) err = errno ? errno : EIO;
  if (fclose(out.stream) != 0 && !err) err = errno ? errno : EIO;
  out.stream = nullptr;
  if (out.tempPath.empty()) return errorStatus(err);
  std::wstring temp = widePath(out.tempPath), target = widePath(out.path);
  if (!err) {
    // A read-only file is replaced as on POSIX hosts (the folder decides),
    // and the new file stays read-only.
    DWORD attributes = GetFileAttributesW(target.c_str());
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetFileAttributesW(target.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      err = errnoFromWindowsError(GetLastError());
      if (readOnly) SetFileAttributesW(target.c_str(), attributes);
    } else if (readOnly) {
      SetFileAttributesW(target.c_str(), GetFileAttributesW(target.c_str()) | FILE_ATTRIBUTE_READONLY);
    }
  }
  if (err) DeleteFileW(temp.c_str());
  out.tempPath.clear();
  return errorStatus(err);
}

void discardOutputFile(OutputFile& out) {
  if (out.stream) fclose(out.stream);
  out.stream = nullptr;
  if (!out.tempPath.empty()) DeleteFileW(widePath(out.tempPath).c_str());
  out.tempPath.clear();
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& out) {
  FILE* f = _wfopen(widePath(path).c_str(), L"rb");
  if (!f) return false;
  out.clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

}  // namespace zv
