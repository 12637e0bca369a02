// The writer: turns the parsed input image into the VKM/VKX file, and the
// check of a generated file's layout that runs when the file is read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"
#include "run/context.h"

namespace zv {

Status layOutSections(Context& ctx);
Status buildAndWriteImage(Context& ctx);

// Checks the group order of a generated file already parsed into `img`
// (whose bytes are `eof` long). Fails with -1; prints its own messages: the
// first fault of checkModuleLayout (and the table of offsets for an order fault).
Status verifyGeneratedLayout(Context& ctx, const ElfImage& img, uint32_t eof);

// Every layout fault of a module whose section headers are in `img` (host
// order): duplicate CRC or FileInfo sections first, in table order, then each
// order check that fails, in the order they are made.
struct LayoutFault {
  const char* message;  // the converter's message for it
  std::string meaning;  // what is wrong, in plain words, with the offsets compared
};
constexpr int kLayoutValueCount = 12;
struct LayoutFindings {
  std::vector<LayoutFault> faults;
  size_t duplicates = 0;  // how many of the faults are duplicate sections
  // SecHdrs, CRCs, FileInfo, DataMin, DataMax, ReadMin, ReadMax, TextMin,
  // TextMax, TempMin, TempMax (empty groups placed as the check places
  // them), eof; named by layoutValueName.
  uint32_t values[kLayoutValueCount] = {};
};
LayoutFindings checkModuleLayout(const ElfImage& img, uint32_t eof);
const char* layoutValueName(int value);

// --- Passes of the writer, in the order the conversion calls them ----------
// From the FileInfo size to the written file; they read the module settings
// (name, tags, padding), the regions, sizes and section map of the layout,
// and the TLS facts. The module's section table (headers.cpp):
Status makeNewTable(Context& ctx);
void renumberSections(Context& ctx);
void addTrailer(Context& ctx);
// Fixed region sizes from the command line, or a percentage on top
// (size_options.cpp); fails after the message.
Status applySizeOptions(Context& ctx);
// Holds a region's size against its limit from the command line (warns when
// little room is left); fails when the size is over it or the limit is not
// aligned as the region is.
Status checkRegionLimit(Context& ctx, const char* regionName, const char* optionName, int32_t size, int32_t limit,
                        int32_t alignment);
// Grows the FileInfo's region sizes by `percent`, each rounded up to its
// region's alignment; fails when one would pass 32 bits.
Status padRegions(Context& ctx, uint32_t percent);
void addFixedSections(Context& ctx);

// Room left after the file name for longer install paths, from the SDK root.
uint32_t filepathPadding(Context& ctx, const std::string& root);
// Whether an SDK tag's value is a plain unsigned decimal number (and which).
bool sdkTagNumber(const std::string& value, uint32_t& out);
// Sizes the FileInfo record (ctx.wr.fileInfoSize) and sorts the module's loader
// tags: the SDK version and revision numbers go into their fields, the others
// are kept as text (ctx.wr.textTags). Fails (after the message) when the
// record would not fit a 32-bit size.
Status sizeFileInfo(Context& ctx);
// Allocates and fills the record: the head in host order, the strings in place.
Status fillFileInfo(Context& ctx);
// The region sizes of the layout (ctx.lay.sizes) into the record.
void copyRegionSizes(Context& ctx);
// Stores the 96-byte head big-endian into the record.
void storeFileInfo(Context& ctx);

}  // namespace zv
