#include "launcher/run_event.h"

#include "platform/platform.h"
#include "workspace/package_binding.h"

const char kEventSource[] = "Printer Package Launcher";

namespace {

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

}  // namespace

std::vector<std::string> RunEventStrings(Outcome outcome, const RunRecord& record, int exitCode,
                                         unsigned long long milliseconds) {
  const OutcomeFacts& facts = FactsOf(outcome);
  std::vector<std::string> strings = {
      std::string("Outcome: ") + facts.words,
      "Exit code: " + std::to_string(static_cast<unsigned long>(exitCode) & 0xFFFFFFFFUL),
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
  // Appended, so that every other string keeps its place for the fleet's queries.
  if (!record.log.empty()) strings.push_back("Log: " + record.log);
  return strings;
}

void WriteRunEvent(Outcome outcome, const RunRecord& record, int exitCode, unsigned long long milliseconds) {
  const OutcomeFacts& facts = FactsOf(outcome);
  platform::WriteEvent(kEventSource, facts.eventType, facts.eventId,
                       RunEventStrings(outcome, record, exitCode, milliseconds));
}
