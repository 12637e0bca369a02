// The driver: the command line, the order of the stages, the read-back of the
// generated file, and the final report.
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"
#include "run/context.h"

namespace zv {

// Each of these fails after its message (-1, or the error value of an input
// that cannot be mapped or parsed).
Status parseCommandLine(Context& ctx, int argc, char** argv);
// Loads the input `file` (named `name` in messages) into ctx.input and its
// facts into ctx.facts. A second input is refused (-1, no message; the caller
// keeps that file); otherwise the run takes the mapping (ctx.inputFile)
// whether or not the file turns out to be usable, and ctx.haveInput tells
// whether it parsed.
Status loadInput(Context& ctx, MappedFile* file, const std::string& name);
void printUsage(Context& ctx);
Status addSourceRoot(Context& ctx, const std::string& path);
Status addLoaderTag(Context& ctx, const std::string& text);
// The module's tag list (ctx.moduleSettings.loaderTags): the -t tags with those
// of the SDK's tags file below `root` in front. Fails after a message when the
// file cannot be read; the tags read up to there stay.
Status readLoaderTagsFile(Context& ctx, const std::string& root);
void reportCommandLineFailure(Context& ctx, int argc, char** argv, Status failure);
Status makeRelativeOutputPath(Context& ctx);

// A whole run of the tool; the result is the process exit value.
int runTool(Context& ctx, int argc, char** argv);
// The environment variables a run uses, read at once.
Environment readEnvironment();
// The conversion of the loaded input, pass by pass (convert.cpp): import
// library, module, read-back. A failure carries the value of the FAILED line.
Status convert(Context& ctx);

// A number as the command line gives it: leading white space, an optional
// sign, decimal digits up to the first other character; no digits read as 0
// and values beyond the int32 range saturate at its limits.
int32_t readDecimal(const char* text);

// Where the loader tags file lies below the SDK root `root`; `cygdrive` tells
// whether a /cygdrive/ root was turned into a drive-letter path.
std::string loaderTagsFilePath(const std::string& root, bool& cygdrive);

// Pieces of the run, in the order runTool takes them.
// Resolves ctx.opt.inputPath; fails (with its message printed) when it
// cannot be resolved or names a directory.
Status fullInputPath(Context& ctx, std::string& full, size_t& fileNamePos);
// The region-size cross-check: fails after its message. Sets byteSizesGiven.
Status checkRegionSizes(Context& ctx);
// Output, import library and narrow output paths from the full input path;
// fails (with its message printed) when the output path does not fit.
Status deriveOutputNames(Context& ctx, const std::string& full, size_t fileNamePos);
// Fails (after a message) when the module or the library would be written
// over the input file itself (same name, or a link to it).
Status outputsSpareTheInput(Context& ctx);
// How many sections are compressed at once (ctx.opt.threads): ZODAVOV_THREADS
// when it is a positive number, else one per hardware thread after a WARN
// line. The module is the same whatever the count.
void chooseThreadCount(Context& ctx);
// Maps the generated module again, parses and verifies it; a failure carries
// the mapping error, the image code or -1.
Status reloadGeneratedFile(Context& ctx);

}  // namespace zv
