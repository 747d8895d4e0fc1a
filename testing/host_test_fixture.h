#pragma once
// A fresh stand-in Windows for each unit test, set up as the package tools set up theirs: files
// under a scratch directory ("C:\..." maps into it), TEMP set to C:\Temp, a system directory with
// extrac32.exe, the launcher at C:\pkg\Setup.exe, and empty options. Starting extrac32.exe writes
// the test's package into the directory its parameters name.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/run_record.h"
#include "platform/host_control.h"
#include "tools/stand_in.h"

// The binding region for a cabinet of that SHA-256, and for one the launcher carries at that
// extent, as the package tool writes it (its identity not written).
std::string BoundRegion(const std::string& digest);
std::string CarriedRegion(const std::string& digest, unsigned long offset, unsigned long size);

class LauncherTest : public ::testing::Test {
 protected:
  static constexpr const char* kExpansionDirectory = "C:\\Temp\\TempExpandedFiles";
  static constexpr const char* kSettingsFile = "C:\\Temp\\TempExpandedFiles\\install\\component.isf";

  void SetUp() override;
  void TearDown() override;

  // Files, by their Windows paths.
  void WriteFile(const std::string& path, const std::string& bytes);
  std::string ReadFile(const std::string& path);
  bool Exists(const std::string& path);
  void MakeDirectories(const std::string& path);

  // The package that extrac32.exe expands: relative path to bytes.
  void SetPackage(const std::map<std::string, std::string>& files) { package_ = files; }

  // A package with this settings file and both installer builds.
  void SetPackageWithSettings(const std::string& settings);

  // Creates the expansion directory as a run does before its install, and holds it.
  void HoldExpansionDirectory();

  // Writes a cabinet at path whose file table lists the package (set before).
  void WriteCabinet(const std::string& path = "C:\\pkg\\Setup.cab");

  // Makes extrac32.exe write only the first keep bytes of a package file, as on a full disk.
  void CutShortOnExpansion(const std::string& relative, std::size_t keep) { cutShort_[relative] = keep; }

  // The settings file's bytes each time an installer build was started ("(missing)" without one).
  std::vector<std::string> settingsSeenByInstaller_;

  // The name of the expansion directory's lock in C:\\Temp.
  static std::string TempLockName();

  // What the run under test entered in its record.
  RunRecord record_;

  // The lines printed so far.
  std::vector<std::string> Lines() { return host::PrintedLines(); }

  // Events whose text starts with prefix, in order.
  std::vector<std::string> EventsStartingWith(const std::string& prefix);

  // Opens a run log at C:\Logs\test.log for the rest of the test.
  void OpenTestLog();

  // The test log's entries, each as its type and text ("3 Unable to ..."); whether it holds entry.
  std::vector<std::string> LoggedEntries();
  bool Logged(const std::string& entry);

 private:
  std::unique_ptr<StandInWindows> standIn_;
  std::map<std::string, std::string> package_;
  std::map<std::string, std::size_t> cutShort_;
};
