#include "settings/line_reader.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::size_t kChunkSize = std::size_t{64} * 1024;
}

LineReader::LineReader(std::FILE* file) : file_(file), buffer_(kChunkSize) {}

bool LineReader::Refill() {
  end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  position_ = 0;
  if (end_ == 0) failed_ = std::ferror(file_) != 0;
  return end_ > 0;
}

template <typename Consume>
bool LineReader::ReadLine(Consume consume, bool* endedByLineFeed) {
  if (finished_) return false;
  while (position_ < end_ || Refill()) {
    const char* start = buffer_.data() + position_;
    std::size_t available = end_ - position_;
    const void* lineFeed = std::memchr(start, '\n', available);
    std::size_t length = lineFeed ? static_cast<std::size_t>(static_cast<const char*>(lineFeed) - start) : available;
    consume(start, length, lineFeed != nullptr);
    position_ += length;
    if (lineFeed) {
      ++position_;
      *endedByLineFeed = true;
      return true;
    }
  }
  finished_ = true;
  *endedByLineFeed = false;
  return true;
}

bool LineReader::Next(std::string_view* line) {
  // Most lines lie whole in the buffer and are handed out where they stand; a line that crosses
  // a refill is gathered in spill_, each piece before the refill overwrites it.
  bool spilled = false;
  std::string_view whole;
  spill_.clear();
  auto gather = [&](const char* piece, std::size_t size, bool endsLine) {
    if (endsLine && !spilled) {
      whole = std::string_view(piece, size);
      return;
    }
    spill_.append(piece, size);
    spilled = true;
    if (endsLine) whole = spill_;
  };
  bool endedByLineFeed = false;
  if (!ReadLine(gather, &endedByLineFeed)) return false;
  *line = endedByLineFeed ? whole : std::string_view(spill_);
  if (endedByLineFeed && !line->empty() && line->back() == '\r') line->remove_suffix(1);
  return true;
}

bool LineReader::NextEquals(const std::string& key, bool* equal) {
  // Compares the raw bytes with key as they pass, keeping only the count and the last byte: the
  // line equals key when the bytes are key itself, or key and the CR of a CR LF line end.
  std::size_t length = 0;
  bool prefixEqual = true;
  char last = '\0';
  auto compare = [&](const char* piece, std::size_t size, bool /*endsLine*/) {
    if (size == 0) return;
    if (prefixEqual && length < key.size()) {
      std::size_t overlap = std::min(size, key.size() - length);
      prefixEqual = std::memcmp(piece, key.data() + length, overlap) == 0;
    }
    length += size;
    last = piece[size - 1];
  };
  bool endedByLineFeed = false;
  if (!ReadLine(compare, &endedByLineFeed)) return false;
  bool crLfLine = endedByLineFeed && length == key.size() + 1 && last == '\r';
  *equal = prefixEqual && (length == key.size() || crLfLine);
  return true;
}
