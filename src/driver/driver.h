// The driver: the command line, the order of the stages, the read-back of the
// generated file, and the final report.
#pragma once

#include <cstdint>
#include <string>

#include "driver/context.h"

namespace zv {

uint32_t parseCommandLine(Context& ctx, int argc, char** argv);
void printUsage(Context& ctx);
bool addSourceRoot(Context& ctx, const std::string& path);
bool addLoaderTag(Context& ctx, const std::string& text);
bool readLoaderTagsFile(Context& ctx, const std::string& root);
void reportCommandLineFailure(Context& ctx, int argc, char** argv, uint32_t code);
uint32_t makeRelativeOutputPath(Context& ctx);

// A whole run of the tool; the result is the process exit value.
int runTool(Context& ctx, int argc, char** argv);

}  // namespace zv
