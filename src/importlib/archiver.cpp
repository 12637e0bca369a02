// The last step of the import library: the compiler toolchain's archiver
// "ax -ts" indexes the finished library. It lives under GHS_ROOT (a Cygwin
// style root such as /cygdrive/d/ghs stands for d:/ghs) or, without that
// variable, wherever PATH finds it. Only its exit status matters, and a
// failure is reported without failing the conversion.
#include "importlib/importlib.h"
#include "platform/process.h"

namespace zv {

namespace {

constexpr char kCygdrive[] = "/cygdrive/";
constexpr size_t kCygdriveLength = 10;

// The toolchain root with a /cygdrive/<letter>/ prefix turned into <letter>:/.
std::string toolchainRoot(std::string root) {
  if (root.compare(0, kCygdriveLength, kCygdrive) != 0) return root;
  if (root.size() == kCygdriveLength) return std::string();
  root[kCygdriveLength - 1] = root[kCygdriveLength];
  root[kCygdriveLength] = ':';
  return root.substr(kCygdriveLength - 1);
}

// On Windows a root other than a /cygdrive/ one is joined with '\\' unless
// its fourth character is '/'; POSIX hosts always use '/'.
char rootSeparator(const std::string& root) {
  if (!kWindowsHost || root.compare(0, kCygdriveLength, kCygdrive) == 0) return '/';
  return root.size() > 3 && root[3] == '/' ? '/' : '\\';
}

std::string archiverProgram(const Context& ctx) {
  const std::optional<std::string>& root = ctx.env.toolchainRoot;
  if (!root) return "ax";
  return toolchainRoot(*root) + rootSeparator(*root) + "ax";
}

}  // namespace

void runArchiver(Context& ctx, const std::string& libraryPath) {
  std::string program = archiverProgram(ctx);
  if (ctx.opt.verbose) say(ctx, "exec: %s -ts \"%s\"\n", program.c_str(), libraryPath.c_str());
  int status = runProgram(ctx.con, program, {"-ts", libraryPath});
  if (status != 0) say(ctx, "FAILED: ax -ts %s\nreturned %d\n", libraryPath.c_str(), status);
}

}  // namespace zv
