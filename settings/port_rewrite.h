#pragma once
#include <string>
#include <string_view>

// Enters the port from the command line into the settings file in one pass: "Port=CmdLine"
// becomes "Port=" + portName, the [Install] port count rises by one (or "Ports=1" is added), the
// port is listed under [Ports] (added when missing) and gets its own section, and a requested
// [Network_Twain] section names printerAddress. Every line end written is CR LF.
// The new text goes to "component.isf.tmp", which replaces the settings file only once it is
// completely written; on any failure the settings file stays exactly as it was, the .tmp file is
// removed, one line is printed, and the result is false.
bool RewritePortConfiguration(const std::string& portName, const std::string& printerAddress);

// Returns the number that atoi reads from text: leading white space, an optional sign, then the
// digits up to the first other character; 0 without digits. Saturates at the int range.
long long ReadCount(std::string_view text);
