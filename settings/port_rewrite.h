#pragma once
#include <string>
#include <string_view>

// Enters the port from the command line into the settings file in one pass: "Port=CmdLine"
// becomes "Port=" + portName, the [Install] port count rises by one (or "Ports=1" is added), the
// port is listed under [Ports] (added when missing) and gets its own section, and a requested
// [Network_Twain] section names printerAddress; a printer share (portIsNetworkShare) is listed as a
// local port and gets no address. Every line end written is CR LF.
// The new text goes to "component.isf.tmp", created new (never one that exists), which replaces
// the settings file only once it is completely written. Returns false, with the settings file
// exactly as it was, when the settings file cannot be opened (silently, nothing created) or on any
// later failure (one line printed; a .tmp file this pass created is removed).
bool RewritePortConfiguration(const std::string& portName, const std::string& printerAddress, bool portIsNetworkShare);

// The lines the rewrite looks for: "[Install]" anywhere in a line opens the section whose port count
// it raises; "[Ports]" as a whole line is the port list it extends; "Ports=" begins the count's key.
constexpr std::string_view kInstallSectionText = "[Install]";
constexpr std::string_view kPortsSectionLine = "[Ports]";
constexpr std::string_view kPortCountKey = "Ports=";

// Where a line stands to the part of [Install] in which the rewrite counts ports: from the line
// after the first that holds kInstallSectionText to the first line after it that holds "[", that one
// included (Closing: the count is looked for in it too, and a missing count goes before it).
enum class InstallPart { Outside, Inside, Closing };

// Follows the lines of a settings file, one call a line, in the order they are read.
struct InstallSectionTracker {
  bool seen = false;
  bool left = false;

  // Returns where line, the next one read, stands to the counted part of [Install].
  InstallPart Next(std::string_view line);
};

// Returns the number that atoi reads from text: leading white space, an optional sign, then the
// digits up to the first other character; 0 without digits. A number beyond the int range reads
// as the nearest of INT_MIN and INT_MAX, where atoi's result would be undefined.
long long ReadCount(std::string_view text);

// Returns true when line is a port count line of [Install]: "Ports=" begins a key in it, so the
// byte before it is no ASCII letter, digit or underscore, nor a byte above 127 (a letter of the
// ANSI code page). "Ports=4" and "  Ports=x" count; "MaxPorts=4" and "DefaultPorts=2" do not.
bool IsPortCountLine(std::string_view line);
