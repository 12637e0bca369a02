// How the SDK's command-line programs start. On POSIX hosts the arguments
// arrive as bytes and are used as they are; on Windows they arrive as UTF-16
// through the wide entry point and are turned into UTF-8 once, so the rest of
// the program sees UTF-8 text on every host. A program defines its body as
// `int body(int argc, char** argv)` and names it with ZV_PROGRAM_ENTRY.
#pragma once

namespace zv {

using ProgramBody = int (*)(int argc, char** argv);

// The host's start-up work (error mode, output buffering), then the body;
// its result is the process exit value.
int startProgram(int argc, char** argv, ProgramBody body);
// Windows: converts the arguments to UTF-8 first; an argument that is not
// valid UTF-16 (an unpaired surrogate) is refused with a message and -1.
int startProgramWide(int argc, wchar_t** argv, ProgramBody body);

}  // namespace zv

#if defined(_WIN32)
#define ZV_PROGRAM_ENTRY(body) \
  int wmain(int argc, wchar_t** argv) { return zv::startProgramWide(argc, argv, body); }
#else
#define ZV_PROGRAM_ENTRY(body) \
  int main(int argc, char** argv) { return zv::startProgram(argc, argv, body); }
#endif
