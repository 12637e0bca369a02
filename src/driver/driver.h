// The driver: the command line, the order of the stages, the read-back of the
// generated file, and the final report.
#pragma once

#include <cstdint>
#include <string>

#include "run/context.h"

namespace zv {

uint32_t parseCommandLine(Context& ctx, int argc, char** argv);
// Loads the input `file` (named `name` in messages) into ctx.input and its
// facts into ctx.facts. Returns 0, -1 or a 0xBAD000xx code; prints its own
// messages. A second input is refused (-1, no message; the caller keeps
// that file); otherwise the run takes the mapping (ctx.inputFile) whether or
// not the file turns out to be usable, and ctx.haveInput tells whether it parsed.
uint32_t loadInput(Context& ctx, MappedFile* file, const std::string& name);
void printUsage(Context& ctx);
bool addSourceRoot(Context& ctx, const std::string& path);
bool addLoaderTag(Context& ctx, const std::string& text);
// The module's tag list (ctx.moduleSettings.loaderTags): the -t tags with those of the
// SDK's tags file below `root` in front. False after a message when the file
// cannot be read; the tags read up to there stay.
bool readLoaderTagsFile(Context& ctx, const std::string& root);
void reportCommandLineFailure(Context& ctx, int argc, char** argv, uint32_t code);
uint32_t makeRelativeOutputPath(Context& ctx);

// A whole run of the tool; the result is the process exit value.
int runTool(Context& ctx, int argc, char** argv);
// The environment variables a run uses, read at once.
Environment readEnvironment();
// The conversion of the loaded input, pass by pass (convert.cpp): import
// library, module, read-back. 0 or the value of the FAILED line.
uint32_t convert(Context& ctx);

// A number as the command line gives it: leading white space, an optional
// sign, decimal digits up to the first other character; no digits read as 0
// and values beyond the int32 range saturate at its limits.
int32_t readDecimal(const char* text);

// Where the loader tags file lies below the SDK root `root`; `cygdrive` tells
// whether a /cygdrive/ root was turned into a drive-letter path.
std::string loaderTagsFilePath(const std::string& root, bool& cygdrive);

// Pieces of the run, in the order runTool takes them.
// Step "full input path": resolves ctx.opt.inputPath; false (with its
// message printed) when it cannot be resolved or names a directory.
bool fullInputPath(Context& ctx, std::string& full, size_t& fileNamePos);
// The region-size cross-check: 0, or -1 after its message. Sets byteSizesGiven.
uint32_t checkRegionSizes(Context& ctx);
// Output, import library and narrow output paths from the full input path;
// false (with its message printed) when the output path does not fit.
bool deriveOutputNames(Context& ctx, const std::string& full, size_t fileNamePos);
// False (after a message) when the module or the library would be written
// over the input file itself (same name, or a link to it).
bool outputsSpareTheInput(Context& ctx);
// How many sections are compressed at once (ctx.opt.threads): ZODAVOV_THREADS
// when it is a positive number, else one per hardware thread after a WARN
// line. The module is the same whatever the count.
void chooseThreadCount(Context& ctx);
// Maps the generated module again, parses and verifies it: 0 or the error value.
uint32_t reloadGeneratedFile(Context& ctx);

}  // namespace zv
