#include "common/run_log.h"

#include <filesystem>

#include "testing/host_test_fixture.h"

namespace {

namespace fs = std::filesystem;

TEST(FormatLogEntry, OneCmTraceLineWhateverTheText) {
  platform::LocalTime time{2024, 3, 5, 4, 7, 9, 42, -60};
  EXPECT_EQ(FormatLogEntry(LogType::Error, "a\r\nb]LOG]!>c", time, "cleanup", "NT AUTHORITY\\SYSTEM", 42, "c.cpp:3"),
            "<![LOG[a  b]LOG] !>c]LOG]!><time=\"04:07:09.042-060\" date=\"3-5-2024\" component=\"cleanup\" "
            "context=\"NT AUTHORITY\\SYSTEM\" type=\"3\" thread=\"42\" file=\"c.cpp:3\">\r\n");
  time.biasMinutes = 300;
  EXPECT_NE(FormatLogEntry(LogType::Information, "", time, "", "", 1, "").find("09.042+300\""), std::string::npos);
  EXPECT_EQ(DefaultLogPath("C:\\Windows", "SETUP.EXE"), "C:\\Windows\\Logs\\Software\\SETUP.log");
  EXPECT_EQ(DefaultLogPath("C:\\Windows", "setup.x86"), "C:\\Windows\\Logs\\Software\\setup.x86.log");
}

// Each test leaves no log open: never opened, closed, or given up.
using OpenRunLogTest = LauncherTest;

TEST_F(OpenRunLogTest, NeverThroughALinkNorIntoAFolderOrAFile) {
  WriteFile("C:\\Secret\\target.txt", "secret");
  MakeDirectories("C:\\Logs\\Folder.log");
  WriteFile("C:\\Logs\\File", "a file");
  fs::create_symlink(host::HostPath("C:\\Secret\\target.txt"), host::HostPath("C:\\Logs\\Setup.log"));
  fs::create_directory_symlink(host::HostPath("C:\\Secret"), host::HostPath("C:\\Logs\\Linked"));
  EXPECT_EQ(OpenRunLog("C:\\Logs\\Setup.log"), "a link or junction stands in its place");
  EXPECT_EQ(OpenRunLog("C:\\Logs\\Linked\\Setup.log"), "a link or junction stands at C:\\Logs\\Linked");
  EXPECT_EQ(OpenRunLog("C:\\Logs\\Folder.log"), "it is a folder");
  EXPECT_EQ(OpenRunLog("C:\\Logs\\File\\Setup.log"), "C:\\Logs\\File is a file");
  // A folder swapped for a link once it was made, before the log is opened, is caught there.
  host::BeforeCreatingDirectory([](const std::string& path) {
    if (path != "C:\\Logs\\Late\\Inner") return;
    fs::rename(host::HostPath("C:\\Logs\\Late"), host::HostPath("C:\\Logs\\Moved"));
    fs::create_directory_symlink(host::HostPath("C:\\Secret"), host::HostPath("C:\\Logs\\Late"));
  });
  EXPECT_EQ(OpenRunLog("C:\\Logs\\Late\\Inner\\Setup.log"), "a link or junction stands in its place");
  EXPECT_FALSE(RunLogIsOpen());
  EXPECT_EQ(ReadFile("C:\\Secret\\target.txt"), "secret");
  EXPECT_FALSE(Exists("C:\\Secret\\Inner\\Setup.log"));
  EXPECT_EQ(EventsStartingWith("mkdir:C:\\Logs\\Late "),
            (std::vector<std::string>{"mkdir:C:\\Logs\\Late " + std::string(kLogFolderSecurity)}));
}

TEST_F(OpenRunLogTest, PastTenMegabytesTheLogBecomesTheOneOlderFile) {
  for (unsigned long long size : {kLogRotationBytes, kLogRotationBytes + 1}) {
    WriteFile("C:\\Logs\\Setup.lo_", "older");
    WriteFile("C:\\Logs\\Setup.log", std::string(size, 'x'));
    ASSERT_EQ(OpenRunLog("C:\\Logs\\Setup.log"), "");
    CloseRunLog();
    EXPECT_EQ(fs::file_size(host::HostPath("C:\\Logs\\Setup.lo_")), size > kLogRotationBytes ? size : 5u);
  }
}

TEST_F(OpenRunLogTest, ALogThatFailsToWriteIsGivenUp) {
  host::FailWritingAfter("Setup.log", 10);
  ASSERT_EQ(OpenRunLog("C:\\Logs\\Setup.log"), "");
  EXPECT_EQ(EventsStartingWith("create-append:"),
            (std::vector<std::string>{"create-append:C:\\Logs\\Setup.log " + std::string(kLogFileSecurity)}));
  LogInformation("cut short");
  EXPECT_FALSE(RunLogIsOpen());
}

}  // namespace
