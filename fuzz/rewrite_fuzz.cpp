// Random settings files and port names for RewritePortConfiguration: no crash; every line of the
// input appears in the output in its order, apart from the lines the rewrite may replace; every
// line end is CR LF; and each "[Ports]" line gets the port's entry, one appended when none was.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/host_control.h"
#include "settings/port_rewrite.h"
#include "workspace/locations.h"

namespace {

const char kSettings[] = "C:\\T\\TempExpandedFiles\\install\\component.isf";

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "RewritePortConfiguration: %s\n", what);
    std::abort();
  }
}

// The settings file's lines by the reader's rules: LF ends a line, a CR before it is dropped.
std::vector<std::string> InputLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n') {
      if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

std::vector<std::string> OutputLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  Check(start == text.size(), "output does not end with a line end");
  return lines;
}

// A port name from the fuzz input, over the letters port names are made of; never "Ports",
// whose own section header would read "[Ports]".
std::string PortName(const std::uint8_t* data, std::size_t size) {
  static const char alphabet[] = "IP_0123456789.\\abcxyz";
  std::string name;
  for (std::size_t i = 0; i < size; ++i) name += alphabet[data[i] % (sizeof alphabet - 1)];
  return name.empty() ? "P" : name;
}

std::string root;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  if (root.empty()) {
    char pattern[] = "/tmp/rewrite-fuzz-XXXXXX";
    root = mkdtemp(pattern);
  }
  host::Reset(root);
  host::SetEnvironment("TEMP", "C:\\T");
  bool share = (data[0] & 1) != 0;
  std::size_t nameLength = data[1] % 24;
  if (size < 2 + nameLength) return 0;
  const std::string port = PortName(data + 2, nameLength);
  const std::string input(reinterpret_cast<const char*>(data + 2 + nameLength), size - 2 - nameLength);

  std::filesystem::create_directories(std::filesystem::path(host::HostPath(kSettings)).parent_path());
  std::ofstream(host::HostPath(kSettings), std::ios::binary) << input;
  Check(ResolveTemporaryDirectory().empty(), "temp did not resolve");
  Check(RewritePortConfiguration(port, "10.0.0.1", share), "the rewrite failed");
  std::ifstream file(host::HostPath(kSettings), std::ios::binary);
  const std::string output((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

  for (std::size_t i = 0; i < output.size(); ++i) {
    if (output[i] == '\n') Check(i > 0 && output[i - 1] == '\r', "a line end that is not CR LF");
  }
  const std::vector<std::string> in = InputLines(input);
  const std::vector<std::string> out = OutputLines(output);

  std::size_t at = 0;
  for (const std::string& line : in) {
    if (line.find("Port=CmdLine") != std::string::npos || IsPortCountLine(line)) continue;
    while (at < out.size() && out[at] != line) ++at;
    Check(at < out.size(), "an input line is missing or out of order");
    ++at;
  }

  const std::string entry = port + (share ? "=LocalPort" : "=StandardIP");
  std::size_t headersIn = 0, entriesIn = 0, headersOut = 0, entriesOut = 0;
  for (const std::string& line : in) {
    headersIn += line == "[Ports]";
    entriesIn += line == entry;
  }
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == "[Ports]") {
      ++headersOut;
      Check(i + 1 < out.size() && out[i + 1] == entry, "a [Ports] line without the port's entry under it");
    }
    entriesOut += out[i] == entry;
  }
  const std::size_t expectedHeaders = headersIn == 0 ? 1 : headersIn;
  Check(headersOut == expectedHeaders, "wrong number of [Ports] sections");
  Check(entriesOut == entriesIn + expectedHeaders, "wrong number of port entries");
  return 0;
}
