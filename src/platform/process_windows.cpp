// Windows side of starting an outside program. The program is found the way
// the toolchain's scripts expect (a path as given, with ".exe" added when it
// has no extension; a bare name through SearchPathW on PATH) and started with
// CreateProcessW. No command interpreter stands between, so '&', '%', '^' and
// quotes in a path reach the program unchanged: the command line is quoted by
// the rules CommandLineToArgvW reads back. Only the standard handles are
// inherited.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/windows_text.h"

namespace zv {

namespace {

// Exit codes from 0xC0000000 on are exceptions (an access violation and the
// like): the program crashed rather than ended, as a signal on POSIX.
constexpr DWORD kFirstCrashCode = 0xC0000000;

bool isFile(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// The executable `program` names, or an empty string.
std::wstring findProgram(const std::wstring& program) {
  if (program.find_first_of(L"\\/:") != std::wstring::npos) {
    if (isFile(program + L".exe")) return program + L".exe";
    size_t name = program.find_last_of(L"\\/:");
    if (program.find(L'.', name + 1) != std::wstring::npos && isFile(program)) return program;
    return std::wstring();
  }
  std::wstring searchPath;
  if (const wchar_t* p = _wgetenv(L"PATH")) searchPath = p;
  std::wstring found(MAX_PATH, L'\0');
  for (int tries = 0; tries < 2; ++tries) {
    DWORD n = SearchPathW(searchPath.empty() ? nullptr : searchPath.c_str(), program.c_str(), L".exe",
                          static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (n == 0) return std::wstring();
    if (n < found.size()) {
      found.resize(n);
      return isFile(found) ? found : std::wstring();
    }
    found.assign(n, L'\0');
  }
  return std::wstring();
}

}  // namespace

// One argument quoted so that CommandLineToArgvW gives it back unchanged:
// backslashes are literal except before a quote, where they are doubled.
static std::wstring quoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring q = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"')
      q.append(slashes * 2 + 1, L'\\');
    else
      q.append(slashes, L'\\');
    slashes = 0;
    q.push_back(c);
  }
  q.append(slashes * 2, L'\\');
  q.push_back(L'"');
  return q;
}

static std::wstring commandLineOf(const std::vector<std::string>& words) {
  std::wstring line;
  for (const std::string& w : words) {
    std::wstring wide;
    if (!toWide(w, wide)) return std::wstring();
    if (!line.empty()) line.push_back(L' ');
    line += quoteArgument(wide);
  }
  return line;
}

// Starts the program with the given standard handles and waits for its end.
// The exit code, or -1 for a start failure or a crash; with `wholeCode` the
// code is the unsigned 32-bit value Windows reports, crash codes included.
static int64_t startAndWait(const std::wstring& exe, std::wstring commandLine, const wchar_t* folder,
                            wchar_t* environment, HANDLE input, HANDLE output, HANDLE error, bool wholeCode) {
  std::vector<HANDLE> inherit;
  for (HANDLE h : {input, output, error}) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) continue;
    bool seen = false;
    for (HANDLE o : inherit) seen = seen || o == h;
    if (seen) continue;
    SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    inherit.push_back(h);
  }
  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  si.StartupInfo.hStdInput = input;
  si.StartupInfo.hStdOutput = output;
  si.StartupInfo.hStdError = error;
  // Only the standard handles go to the child, never a file the tool has open.
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> attributes(size ? size : 1);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  bool haveList = !inherit.empty() && size && InitializeProcThreadAttributeList(list, 1, 0, &size) &&
                  UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit.data(),
                                            inherit.size() * sizeof(HANDLE), nullptr, nullptr);
  DWORD flags = CREATE_UNICODE_ENVIRONMENT;
  if (haveList) {
    si.lpAttributeList = list;
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION pi{};
  BOOL started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, !inherit.empty(), flags, environment,
                                folder, &si.StartupInfo, &pi);
  if (haveList) DeleteProcThreadAttributeList(list);
  if (!started && haveList) {
    // Some hosts (Wine starting a Linux program) take no handle list: plain
    // inheritance then, the tool's own handles being non-inheritable anyway.
    si.StartupInfo.cb = sizeof si.StartupInfo;
    started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                             environment, folder, &si.StartupInfo, &pi);
  }
  if (!started) return -1;
  CloseHandle(pi.hThread);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  bool known = GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  if (!known) return -1;
  if (wholeCode) return int64_t{code};
  return code >= kFirstCrashCode ? -1 : int64_t{static_cast<int32_t>(code)};
}

int runProgram(Console& con, const std::string& program, const std::vector<std::string>& args) {
  consoleFlush(con);
  std::wstring wideProgram;
  if (program.empty() || !toWide(program, wideProgram)) return -1;
  std::wstring exe = findProgram(wideProgram);
  if (exe.empty()) return -1;
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::wstring line = commandLineOf(words);
  if (line.empty()) return -1;
  return static_cast<int>(startAndWait(exe, line, nullptr, nullptr, GetStdHandle(STD_INPUT_HANDLE),
                                       GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE), false));
}

// The environment block of this process with `env` applied: NAME=value
// entries, each ending in a zero, and a zero after the last.
static std::wstring environmentWith(const std::vector<std::pair<std::string, std::optional<std::string>>>& env) {
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> changes;
  for (const auto& [name, value] : env) {
    std::wstring n, v;
    toWide(name, n);
    if (value) toWide(*value, v);
    changes.emplace_back(n + L"=", value ? std::optional<std::wstring>(v) : std::nullopt);
  }
  std::wstring block;
  wchar_t* current = GetEnvironmentStringsW();
  for (const wchar_t* e = current; e && *e; e += wcslen(e) + 1) {
    bool changed = false;
    for (const auto& c : changes) changed = changed || _wcsnicmp(e, c.first.c_str(), c.first.size()) == 0;
    if (!changed) block.append(e).push_back(L'\0');
  }
  if (current) FreeEnvironmentStringsW(current);
  for (const auto& [prefix, value] : changes)
    if (value) block.append(prefix + *value).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

struct PipeReader {
  HANDLE pipe;
  std::string* text;
};

static DWORD WINAPI readPipe(void* context) {
  auto* r = static_cast<PipeReader*>(context);
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(r->pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) r->text->append(buffer, n);
  return 0;
}

int64_t runCaptured(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                    const std::vector<std::pair<std::string, std::optional<std::string>>>& env, std::string& output) {
  output.clear();
  std::wstring exe, wideFolder;
  if (!toWide(program, exe) || !toWide(folder, wideFolder)) return -1;
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::wstring line = commandLineOf(words);
  std::wstring environment = environmentWith(env);

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul =
      CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);
  // The output is read on a second thread while the program runs, so a full
  // pipe never holds it up.
  PipeReader reader{readEnd, &output};
  HANDLE thread = CreateThread(nullptr, 0, readPipe, &reader, 0, nullptr);
  int64_t code = -1;
  if (thread) {
    code = startAndWait(exe, line, wideFolder.empty() ? nullptr : wideFolder.c_str(), environment.data(), nul, writeEnd,
                        writeEnd, true);
  }
  CloseHandle(writeEnd);
  if (thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  CloseHandle(readEnd);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  return code;
}

}  // namespace zv
