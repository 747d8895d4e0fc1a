#include "settings/line_reader.h"

namespace {
constexpr std::size_t kChunkSize = std::size_t{64} * 1024;
}

LineReader::LineReader(std::FILE* file) : file_(file), buffer_(kChunkSize) {}

int LineReader::NextByte() {
  if (position_ == end_) {
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    position_ = 0;
    if (end_ == 0) {
      failed_ = std::ferror(file_) != 0;
      return EOF;
    }
  }
  return static_cast<unsigned char>(buffer_[position_++]);
}

bool LineReader::Next(std::string* line) {
  if (finished_) return false;
  line->clear();
  for (int c = NextByte(); c != EOF; c = NextByte()) {
    if (c == '\n') {
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    line->push_back(static_cast<char>(c));
  }
  finished_ = true;
  return true;
}

bool LineReader::NextEquals(const std::string& key, bool* equal) {
  if (finished_) return false;
  std::size_t matched = 0;
  bool stillEqual = true;
  bool pendingReturn = false;  // a CR that belongs to the line unless LF follows it
  auto feed = [&](char c) {
    stillEqual = stillEqual && matched < key.size() && key[matched] == c;
    if (stillEqual) ++matched;
  };
  for (int c = NextByte(); c != EOF; c = NextByte()) {
    if (c == '\n') {
      *equal = stillEqual && matched == key.size();
      return true;
    }
    if (pendingReturn) feed('\r');
    pendingReturn = c == '\r';
    if (!pendingReturn) feed(static_cast<char>(c));
  }
  if (pendingReturn) feed('\r');
  finished_ = true;
  *equal = stillEqual && matched == key.size();
  return true;
}
