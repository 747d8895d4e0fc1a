#include "tools/preview.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kSettingsRun = {"Creating Temporary Directory...", "Expanding Install Files...",
                                               "Running Install...", "Install Complete, Beginning Cleanup...",
                                               "Cleanup Complete."};
const char kFirstExample[] = "[Install]\nNetwork_Twain=1\nPort=CmdLine\n\n[Other]\nKey=Value\n";
const char kFirstExampleRewritten[] =
    "[Install]\r\nNetwork_Twain=1\r\nPort=IP_192.168.1.20\r\n\r\nPorts=1\r\n\r\n[Other]\r\nKey=Value\r\n\r\n"
    "[Ports]\r\nIP_192.168.1.20=StandardIP\r\n\r\n[IP_192.168.1.20]\r\nName=IP_192.168.1.20\r\n"
    "HostName=IP_192.168.1.20\r\nIPAddress=192.168.1.20\r\n\r\n[Network_Twain]\r\nDefaultDevice=192.168.1.20\r\n";

class PreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/preview-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    package_ = pattern;
  }
  void TearDown() override { fs::remove_all(package_); }

  void Write(const std::string& relative, const std::string& bytes) {
    fs::create_directories(fs::path(package_ + "/" + relative).parent_path());
    std::ofstream(package_ + "/" + relative, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& relative) {
    std::ifstream file(package_ + "/" + relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  void WritePackage(const std::string& settings) {
    Write("install/component.isf", settings);
    Write("install/x86/InstallGui.exe", "x86 build");
    Write("install/x64/InstallGui.exe", "x64 build");
  }
  PreviewResult Run(const std::vector<std::string>& arguments, const StandInSetup& setup = StandInSetup()) {
    return RunPreview(setup, package_, arguments);
  }

  std::string package_;
};

TEST_F(PreviewTest, PortFromTheCommandLineRewritesACopyOfThePackage) {
  WritePackage(kFirstExample);
  PreviewResult result = Run({"/port:IP_192.168.1.20", "/address:192.168.1.20"});
  EXPECT_EQ(result.consoleLines, kSettingsRun);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_FALSE(result.waitedForEnter);
  ASSERT_EQ(result.installers.size(), 1u);
  const InstallerStart& start = result.installers[0];
  EXPECT_TRUE(start.inPackage);
  EXPECT_EQ(start.program, "C:\\Windows\\Temp\\TempExpandedFiles\\install\\x64\\InstallGui.exe");
  EXPECT_EQ(start.parameters, "/I:C:\\Windows\\Temp\\TempExpandedFiles\\install\\component.isf");
  EXPECT_EQ(start.workingDirectory, "C:\\pkg");
  EXPECT_EQ(start.settingsBytes, std::string(kFirstExampleRewritten));
  EXPECT_FALSE(result.expansionDirectoryLeft);
  EXPECT_EQ(Read("install/component.isf"), kFirstExample) << "the package folder itself is never written";
}

TEST_F(PreviewTest, MissingPortOptionsStopTheRunBeforeTheInstaller) {
  WritePackage(kFirstExample);
  PreviewResult result = Run({"/port:LPT1:"});
  EXPECT_EQ(result.exitCode, 10);
  EXPECT_FALSE(result.waitedForEnter) << "in session 0 nobody could press ENTER";
  EXPECT_TRUE(result.installers.empty());
  ASSERT_EQ(result.consoleLines.size(), 8u);
  EXPECT_EQ(result.consoleLines[4], "/address: parameter not found or no value was specified");
  EXPECT_EQ(result.consoleLines[7], "Press ENTER to continue");
  EXPECT_NE(FormatPreview(StandInSetup(), {"/port:LPT1:"}, result).find("Reads no ENTER"), std::string::npos);

  StandInSetup interactive;
  interactive.personSees = true;
  PreviewResult atTheConsole = Run({"/port:LPT1:"}, interactive);
  EXPECT_TRUE(atTheConsole.waitedForEnter);
  EXPECT_EQ(atTheConsole.consoleLines, result.consoleLines);
}

TEST_F(PreviewTest, NamesAreFoundWithoutRegardToLetterCase) {
  Write("INSTALL/Component.ISF", "[Install]\r\nPort=CmdLine\r\n");
  Write("Install/X64/installgui.exe", "x64 build");
  PreviewResult result = Run({"/port:\\\\server\\printer"});
  EXPECT_EQ(result.consoleLines, kSettingsRun);
  ASSERT_EQ(result.installers.size(), 1u);
  EXPECT_TRUE(result.installers[0].inPackage);
  EXPECT_EQ(result.installers[0].settingsBytes,
            std::string("[Install]\r\nPort=\\\\server\\printer\r\n\r\n[Ports]\r\n\\\\server\\printer=LocalPort\r\n"
                        "\r\n[\\\\server\\printer]\r\nName=\\\\server\\printer\r\n"));
}

TEST_F(PreviewTest, AMissingBuildEndsTheRunWithTenAndShowsTheEvent) {
  Write("install/component.isf", "[Install]\r\n");
  Write("install/x86/InstallGui.exe", "x86 build");
  PreviewResult result = Run({});
  const std::string line =
      "Unable to install: the package holds no installer for 64-bit Windows (install\\x64\\InstallGui.exe).";
  EXPECT_EQ(result.consoleLines,
            (std::vector<std::string>{"Creating Temporary Directory...", "Expanding Install Files...", line,
                                      "Install Failed, Beginning Cleanup...", "Cleanup Complete."}));
  EXPECT_EQ(result.exitCode, 10);
  EXPECT_TRUE(result.installers.empty());
  std::string text = FormatPreview(StandInSetup(), {}, result);
  EXPECT_NE(text.find("Event in the Application log: source \"Printer Package Launcher\", error, id 1006\n"
                      "  Outcome: The package holds no installer for this machine.\n  Exit code: 10\n  Failure: " +
                      line + "\n"),
            std::string::npos)
      << text;
}

TEST_F(PreviewTest, LinksAreFollowedAndLoopsRefused) {
  WritePackage("[Install]\r\n");
  fs::create_directories(package_ + "/elsewhere");
  std::ofstream(package_ + "/elsewhere/real.isf", std::ios::binary) << "[Install]\r\nDisplayUI=1\r\n";
  fs::remove(package_ + "/install/component.isf");
  fs::create_symlink("../elsewhere/real.isf", package_ + "/install/component.isf");
  PreviewResult result = Run({});
  ASSERT_EQ(result.installers.size(), 1u);
  EXPECT_EQ(result.installers[0].parameters, std::nullopt) << "the linked file's standalone key counts";

  fs::create_directory_symlink("..", package_ + "/install/loop");
  EXPECT_THROW(Run({}), std::runtime_error);
}

TEST_F(PreviewTest, TheReportShowsLineEndsAndBlanks) {
  WritePackage("[Install]\r\nDisplayUI=1 \nLast");
  StandInSetup setup;
  std::string text = FormatPreview(setup, {"/l:de"}, Run({"/l:de"}));
  EXPECT_NE(text.find("Preview of: \"C:\\pkg\\Setup.exe\" /l:de\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Console:\n  Creating Temporary Directory...\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Exit code: 0\n"), std::string::npos);
  EXPECT_NE(text.find("Installer: the x64 build\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  parameters: /I:C:\\Windows\\Temp\\TempExpandedFiles\\install\\component.isf\n"),
            std::string::npos);
  EXPECT_NE(text.find("     1 |[Install]|CR LF\n     2 |DisplayUI=1 |LF\n     3 |Last|(no line end)\n"),
            std::string::npos)
      << text;
}

TEST_F(PreviewTest, ShowsTheCodeTheRunReturnsAndTheLogItWrites) {
  WritePackage(kFirstExample);
  std::vector<std::string> arguments = {"/port:LPT1:", "/exitcodes:msi", "/log"};
  std::string text = FormatPreview(StandInSetup(), arguments, Run(arguments));
  for (const char* shown : {"Exit code: 1639\n  Windows Installer's code (/exitcodes:msi); the road's own code is 10\n",
                            "\nLog: C:\\Windows\\Logs\\Software\\Setup.log, as the run appends it",
                            "\n  <![LOG[/address: parameter not found or no value was specified]LOG]!><time="}) {
    EXPECT_NE(text.find(shown), std::string::npos) << shown << text;
  }
}

}  // namespace
