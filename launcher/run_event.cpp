#include "launcher/run_event.h"

#include <cstdio>

#include "platform/platform.h"
#include "workspace/locations.h"
#include "workspace/package_binding.h"

const char kEventSource[] = "Printer Package Launcher";

namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::string CabinetText(const RunRecord& record) {
  if (record.cabinetPath.empty()) return "none found";
  std::string text = record.cabinetPath;
  if (record.cabinetSize) text += ", " + std::to_string(*record.cabinetSize) + " bytes";
  if (!record.cabinetDigest.empty()) text += ", SHA-256 " + Hex(record.cabinetDigest);
  return text;
}

std::string TemporaryDirectoryText(const RunRecord& record) {
  if (!record.temporaryDirectory.empty()) return record.temporaryDirectory;
  // A run that stopped before it used TEMP: what TEMP held, as the launcher reads it.
  std::optional<std::string> temp = platform::EnvironmentValue("temp");
  return temp ? *temp + " (not used)" : "not set";
}

std::string InstallerText(const RunRecord& record) {
  if (record.installerPath.empty()) return "not started";
  return record.installerPath + (record.installerParameters ? " " + *record.installerParameters : "");
}

std::string ExitCodeText(const std::optional<unsigned long>& exitCode) {
  if (!exitCode) return "none";
  return std::to_string(*exitCode & 0xFFFFFFFFUL) + " (" + ExitCodeHexadecimal(*exitCode) + ")";
}

std::string DurationText(unsigned long long milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%03llu s", milliseconds / 1000, milliseconds % 1000);
  return text;
}

}  // namespace

std::vector<std::string> RunEventStrings(Outcome outcome, const RunRecord& record, unsigned long long milliseconds) {
  const OutcomeFacts& facts = FactsOf(outcome);
  return {
      std::string("Outcome: ") + facts.words,
      "Exit code: " + std::to_string(facts.exitCode),
      "Failure: " + (record.failure.empty() ? std::string("none") : record.failure),
      "Launcher: " + platform::ExecutablePath(),
      "Command line: " + platform::CommandLine(),
      "Cabinet: " + CabinetText(record),
      "Temporary directory: " + TemporaryDirectoryText(record),
      "Installer: " + InstallerText(record),
      "Installer exit code: " + ExitCodeText(record.installerExitCode),
      "Duration: " + DurationText(milliseconds),
      // After the ten that fleet queries read by index, so that their indexes stay.
      "Package: " + PackageIdentityText(ReadPackageBinding().identity),
  };
}

void WriteRunEvent(Outcome outcome, const RunRecord& record, unsigned long long milliseconds) {
  const OutcomeFacts& facts = FactsOf(outcome);
  platform::WriteEvent(kEventSource, facts.eventType, facts.eventId, RunEventStrings(outcome, record, milliseconds));
}
