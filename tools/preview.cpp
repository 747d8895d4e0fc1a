#include "tools/preview.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "common/package_layout.h"
#include "common/process_state.h"
#include "common/run_log.h"
#include "launcher/run_sequence.h"
#include "platform/host_control.h"
#include "tools/cabinet_table.h"
#include "tools/settings_check.h"
#include "workspace/expansion_directory.h"
#include "workspace/locations.h"

namespace fs = std::filesystem;

namespace {

// Returns the entry of folder that Windows would take name for: one that differs only in letter
// case, when there is one.
fs::path EntryFor(const fs::path& folder, const fs::path& name) {
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (strcasecmp(entry.path().filename().c_str(), name.c_str()) == 0) return entry.path();
  }
  return folder / name;
}

// Copies the package folder as extrac32.exe expands a cabinet made from it: every file below it,
// links followed, folders kept (names that differ only in letter case are one on Windows), files
// of the same name overwritten (/Y).
void ExpandFolder(const fs::path& from, const fs::path& to, std::vector<fs::path>* enclosing) {
  fs::path real = fs::canonical(from);
  if (std::find(enclosing->begin(), enclosing->end(), real) != enclosing->end()) {
    throw std::runtime_error("the package folder holds a link to a folder that encloses it: " + from.string());
  }
  enclosing->push_back(real);
  fs::create_directories(to);
  for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
    fs::path target = EntryFor(to, entry.path().filename());
    if (entry.is_directory()) {
      ExpandFolder(entry.path(), target, enclosing);
    } else if (entry.is_regular_file()) {
      fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing);
    }
  }
  enclosing->pop_back();
}

// Lists the files below a package folder as a cabinet made from it lists them: links followed,
// "\" between folders.
void ListFolder(const fs::path& from, const std::string& prefix, std::vector<CabinetFile>* files,
                std::vector<fs::path>* enclosing) {
  fs::path real = fs::canonical(from);
  if (std::find(enclosing->begin(), enclosing->end(), real) != enclosing->end()) {
    throw std::runtime_error("the package folder holds a link to a folder that encloses it: " + from.string());
  }
  enclosing->push_back(real);
  std::vector<fs::directory_entry> entries{fs::directory_iterator(from), fs::directory_iterator()};
  std::sort(entries.begin(), entries.end());
  for (const fs::directory_entry& entry : entries) {
    std::string name = prefix + entry.path().filename().string();
    if (entry.is_directory()) {
      ListFolder(entry.path(), name + "\\", files, enclosing);
    } else if (entry.is_regular_file()) {
      files->push_back({name, false, static_cast<std::uint32_t>(entry.file_size())});
    }
  }
  enclosing->pop_back();
}

std::optional<std::string> ReadBytes(const std::string& windowsPath) {
  std::ifstream file(host::HostPath(windowsPath), std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The file a package's installer reads: the path after "/I:", else component.isf in the folder
// above its own (the package's install folder).
std::string SettingsPathFor(const host::StartedProgram& program) {
  if (program.parameters && program.parameters->rfind("/I:", 0) == 0) return program.parameters->substr(3);
  std::string folder = program.file.substr(0, program.file.rfind('\\'));
  return folder.substr(0, folder.rfind('\\')) + "\\component.isf";
}

std::string CommandLineText(const std::string& launcherPath, const std::vector<std::string>& arguments) {
  std::string text = "\"" + launcherPath + "\"";
  for (const std::string& argument : arguments) {
    bool quote = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
    text += " " + (quote ? "\"" + argument + "\"" : argument);
  }
  return text;
}

// The build is named by the folder that holds the installer the launcher chose.
std::string BuildOf(const std::string& program) {
  std::size_t end = program.rfind('\\');
  std::size_t start = end == std::string::npos ? std::string::npos : program.rfind('\\', end - 1);
  if (start == std::string::npos) return "?";
  return program.substr(start + 1, end - start - 1);
}

void AppendSettingsLines(const std::string& bytes, std::string* text) {
  std::size_t start = 0;
  for (int number = 1; start < bytes.size(); ++number) {
    std::size_t lineFeed = bytes.find('\n', start);
    std::string lineEnd = "(no line end)";
    std::size_t end = bytes.size();
    if (lineFeed != std::string::npos) {
      end = lineFeed;
      lineEnd = "LF";
      if (end > start && bytes[end - 1] == '\r') {
        --end;
        lineEnd = "CR LF";
      }
    }
    std::string numberText = std::to_string(number);
    text->append(numberText.size() < 6 ? 6 - numberText.size() : 0, ' ').append(numberText).append(" |");
    text->append(VisibleBytes(std::string_view(bytes).substr(start, end - start))).append("|");
    text->append(lineEnd).append("\n");
    start = lineFeed == std::string::npos ? bytes.size() : lineFeed + 1;
  }
}

}  // namespace

PreviewResult RunPreview(const StandInSetup& setup, const std::string& packageDirectory,
                         const std::vector<std::string>& arguments) {
  if (!IsDrivePath(setup.launcherPath))
    throw std::runtime_error("the launcher's path must start with a drive: C:\\...");
  if (setup.temp.rfind("\\\\", 0) == 0) throw std::runtime_error("the preview stands in for a TEMP on a drive only");
  if (!fs::is_directory(packageDirectory)) throw std::runtime_error("no package folder at " + packageDirectory);

  StandInWindows standIn(setup);
  std::string ownCabinet = ReplaceExtensionWithCab(setup.launcherPath);
  if (ownCabinet.empty())
    ownCabinet = setup.launcherPath.substr(0, setup.launcherPath.rfind('\\')) + "\\" + package::kSharedCabinet;
  // Only the table: the stand-in's extrac32.exe copies the folder, and the launcher checks the
  // copy against what the table lists, as it checks a real expansion.
  std::vector<CabinetFile> listed;
  std::vector<fs::path> enclosing;
  ListFolder(packageDirectory, "", &listed, &enclosing);
  standIn.WriteFile(ownCabinet, CabinetTableBytes(listed));

  PreviewResult result;
  std::vector<InstallerStart> started;
  host::OnProgramStart([&](const host::StartedProgram& program) {
    std::vector<std::string> paths = QuotedTexts(program.parameters.value_or(""));
    if (IsProgram(program, "extrac32.exe")) {
      if (paths.size() >= 2 && IsDrivePath(paths[paths.size() - 2])) {
        std::vector<fs::path> enclosing;
        ExpandFolder(packageDirectory, host::HostPath(paths[paths.size() - 2]), &enclosing);
      }
    } else {
      InstallerStart start{program.file, program.parameters,       program.workingDirectory,
                           true,         SettingsPathFor(program), {}};
      start.settingsBytes = ReadBytes(start.settingsPath);
      started.push_back(start);
    }
  });

  host::SetCommandLine(CommandLineText(setup.launcherPath, arguments));
  std::vector<const char*> argv{setup.launcherPath.c_str()};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  Outcome outcome = Outcome::Help;
  result.exitCode = RunLauncher(static_cast<int>(argv.size()), argv.data(), &outcome);
  result.plainExitCode = FactsOf(outcome).exitCode;
  host::OnProgramStart(nullptr);
  if (launchOptions.logPath) {
    result.logPath = launchOptions.logPath->empty()
                         ? DefaultLogPath(platform::WindowsDirectory(), LauncherFileName(setup.launcherPath))
                         : *launchOptions.logPath;
    result.log = ReadBytes(result.logPath);
  }

  result.consoleLines = host::PrintedLines();
  result.unfinishedOutput = host::UnflushedOutput();
  const std::vector<std::string>& events = host::Events();
  result.waitedForEnter = std::find(events.begin(), events.end(), "read-input") != events.end();
  // Every program the launcher asked for but the system's cabinet tool is an installer start; those
  // the stand-in saw no effect of were not in the package.
  std::size_t next = 0;
  for (const host::StartedProgram& program : host::StartedPrograms()) {
    if (IsProgram(program, "extrac32.exe")) continue;
    if (next < started.size() && started[next].program == program.file) {
      result.installers.push_back(started[next++]);
    } else {
      result.installers.push_back(
          {program.file, program.parameters, program.workingDirectory, false, SettingsPathFor(program), {}});
    }
  }
  result.expansionDirectoryLeft = fs::exists(host::HostPath(ExpansionDirectory()));
  result.events = host::WrittenEvents();
  return result;
}

std::string FormatPreview(const StandInSetup& setup, const std::vector<std::string>& arguments,
                          const PreviewResult& result) {
  std::string text = "Preview of: " + CommandLineText(setup.launcherPath, arguments) + "\n";
  text += "  on " + std::string(setup.windows64 ? "64-bit" : "32-bit") + " Windows, TEMP=" + setup.temp + ", " +
          (setup.personSees ? "a person at the console" : "no person sees the session") +
          ", standard input at its end\n\nConsole:\n";
  for (const std::string& line : result.consoleLines) text += "  " + line + "\n";
  if (!result.unfinishedOutput.empty()) text += "  (without a line end) " + result.unfinishedOutput + "\n";
  text += "Exit code: " + std::to_string(result.exitCode) + "\n";
  if (result.exitCode != result.plainExitCode) {
    text += "  Windows Installer's code (/exitcodes:msi); the road's own code is " +
            std::to_string(result.plainExitCode) + "\n";
  }
  bool prompted = std::find(result.consoleLines.begin(), result.consoleLines.end(), "Press ENTER to continue") !=
                  result.consoleLines.end();
  if (result.waitedForEnter) {
    text +=
        "Waits for ENTER after \"Press ENTER to continue\": a person must press it (here standard input was at its "
        "end)\n";
  } else if (prompted) {
    text += "Reads no ENTER after \"Press ENTER to continue\": no person sees the session\n";
  }
  text += "\n";
  if (result.installers.empty()) text += "Installer: not started\n";
  for (const InstallerStart& start : result.installers) {
    if (!start.inPackage) {
      text += "Installer: " + start.program + " is not in the package: nothing starts\n";
      continue;
    }
    text += "Installer: the " + BuildOf(start.program) + " build\n";
    text += "  program: " + start.program + "\n";
    text += "  parameters: " + (start.parameters ? *start.parameters : "(none)") + "\n";
    text += "  working directory: " + start.workingDirectory + "\n";
    if (!start.settingsBytes) {
      text += "  settings file: " + start.settingsPath + " is missing\n";
      continue;
    }
    text += "  settings file: " + start.settingsPath + ", " + std::to_string(start.settingsBytes->size()) +
            " bytes, as the installer reads it (each line between | marks, then its line end):\n";
    AppendSettingsLines(*start.settingsBytes, &text);
  }
  if (result.expansionDirectoryLeft) text += "The expansion directory is left behind after the run.\n";
  if (!result.logPath.empty() && !result.log) text += "\nLog: " + result.logPath + " is not written\n";
  if (result.log) {
    text += "\nLog: " + result.logPath +
            ", as the run appends it (times, process ids, the account and the cabinet's size are the preview's own):\n";
    for (std::size_t start = 0, end; start < result.log->size(); start = end + 2) {
      end = result.log->find("\r\n", start);
      if (end == std::string::npos) end = result.log->size();
      text += "  " + result.log->substr(start, end - start) + "\n";
    }
  }
  for (const host::WrittenEvent& event : result.events) {
    static const char* const kTypes[] = {"information", "warning", "error"};
    text += "\nEvent in the Application log: source \"" + event.source + "\", " + kTypes[static_cast<int>(event.type)] +
            ", id " + std::to_string(event.id) + "\n";
    for (const std::string& line : event.strings) {
      // The stand-in's cabinet and clock are no real cabinet's size and hash, nor a real run's time.
      if (line.rfind("Cabinet: C:", 0) == 0) {
        text +=
            "  " + line.substr(0, line.rfind(", ", line.find(" bytes"))) + " (its size and, when bound, its SHA-256)\n";
      } else if (line.rfind("Duration: ", 0) == 0) {
        text += "  Duration: (the run's, in seconds)\n";
      } else {
        text += "  " + line + "\n";
      }
    }
  }
  return text;
}
