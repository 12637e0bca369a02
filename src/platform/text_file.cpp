// Line-by-line reading of text files with the text-stream convention of the
// tool's original build host: a carriage return followed by a line break
// reads as the line break alone; a carriage return anywhere else stays.
#include "platform/text_file.h"

#include "platform/platform.h"

namespace zv {

// Only a regular file is read: a named pipe or a device could keep the run
// waiting or never end.
bool openTextFile(const std::string& path, TextFile& file) {
  file.stream = openRegularFile(path);
  return file.stream != nullptr;
}

// The next character with CR LF turned into LF, or EOF.
static int nextTextChar(FILE* stream) {
  int c = getc(stream);
  if (c != '\r') return c;
  int after = getc(stream);
  if (after == '\n') return '\n';
  if (after != EOF) ungetc(after, stream);
  return '\r';
}

bool readTextPiece(TextFile& file, std::string& piece, size_t maxBytes) {
  piece.clear();
  if (!file.stream) return false;
  while (piece.size() < maxBytes) {
    int c = nextTextChar(file.stream);
    if (c == EOF) break;
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (ferror(file.stream)) return false;
  return !piece.empty();
}

void closeTextFile(TextFile& file) {
  if (file.stream) fclose(file.stream);
  file.stream = nullptr;
}

}  // namespace zv
