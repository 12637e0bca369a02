// Reading a text file line by line, the way the SDK's small configuration
// files (the loader tags file) are read: each read yields one line, or a piece
// of at most 1023 bytes of a longer one, with its line break kept. A carriage
// return right before a line break is dropped, so files written on either
// kind of host read the same.
#pragma once

#include <cstdio>
#include <string>

namespace zv {

struct TextFile {
  FILE* stream = nullptr;
};

// The largest piece one read hands back (what fits a 1024-byte line buffer
// together with its terminator).
constexpr size_t kTextPieceMax = 1023;

// Opens `path` for reading; false when it cannot be opened.
bool openTextFile(const std::string& path, TextFile& file);

// Reads the next piece: bytes up to and including a line break, at most
// `maxBytes` of them. False at the end of the file (or on a read error) when
// nothing was read.
bool readTextPiece(TextFile& file, std::string& piece, size_t maxBytes = kTextPieceMax);

void closeTextFile(TextFile& file);

}  // namespace zv
