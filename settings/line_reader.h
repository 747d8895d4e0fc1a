#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Reads a settings file line by line. A line ends at LF; a CR right before the LF is not part of
// it; the text after the last LF is one more line (empty when the file ends with a line end), so
// a file with n line ends has n + 1 lines. Bytes are read as they stand: no text-mode translation,
// so a stray Ctrl-Z does not end the file early.
class LineReader {
 public:
  explicit LineReader(std::FILE* file);

  // Points *line at the next line, valid until the next call; returns false when every line has
  // been read.
  bool Next(std::string_view* line);

  // Reads the next line without keeping it and sets *equal to whether it equals key; returns
  // false when every line has been read. Memory does not grow with the line.
  bool NextEquals(const std::string& key, bool* equal);

  // Returns true when reading stopped at a read error rather than at the end of the file.
  bool Failed() const { return failed_; }

 private:
  // Hands the bytes of the next line, LF excluded and CR kept, to consume(piece, size, endsLine)
  // in one or more pieces, each before the buffer is refilled; endsLine is true for the piece
  // that an LF follows. Sets *endedByLineFeed. Returns false when every line has been read.
  template <typename Consume>
  bool ReadLine(Consume consume, bool* endedByLineFeed);

  bool Refill();

  std::FILE* file_;
  std::vector<char> buffer_;
  std::size_t position_ = 0;
  std::size_t end_ = 0;
  bool finished_ = false;
  bool failed_ = false;
  std::string spill_;  // a line that crosses the end of the buffer
};
