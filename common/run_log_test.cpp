#include "common/run_log.h"

#include <filesystem>

#include "testing/host_test_fixture.h"

namespace {

namespace fs = std::filesystem;

TEST(FormatLogEntry, OneCmTraceLineWhateverTheText) {
  platform::LocalTime time{2024, 3, 5, 4, 7, 9, 42, -60};
  EXPECT_EQ(FormatLogEntry(LogType::Error, "Cleanup Complete.", time, "cleanup", "NT AUTHORITY\\SYSTEM", 4242,
                           "cleanup.cpp:31"),
            "<![LOG[Cleanup Complete.]LOG]!><time=\"04:07:09.042-060\" date=\"3-5-2024\" component=\"cleanup\" "
            "context=\"NT AUTHORITY\\SYSTEM\" type=\"3\" thread=\"4242\" file=\"cleanup.cpp:31\">\r\n");
  for (auto [bias, shown] : {std::pair{0, "+000"}, {300, "+300"}, {-330, "-330"}}) {
    time.biasMinutes = bias;
    EXPECT_NE(FormatLogEntry(LogType::Information, "x", time, "", "", 1, "").find(shown), std::string::npos) << shown;
  }
  std::string entry = FormatLogEntry(LogType::Warning, "a\r\nb]LOG]!>c", time, "", "", 1, "");
  EXPECT_EQ(entry.rfind("<![LOG[a  b]LOG] !>c]LOG]!>", 0), 0u) << entry;
  EXPECT_EQ(entry.find('\n'), entry.size() - 1);
}

TEST(DefaultLogPath, LauncherNameWithLogForExe) {
  EXPECT_EQ(DefaultLogPath("C:\\Windows", "Setup.exe"), "C:\\Windows\\Logs\\Software\\Setup.log");
  EXPECT_EQ(DefaultLogPath("C:\\Windows", "SETUP.EXE"), "C:\\Windows\\Logs\\Software\\SETUP.log");
  EXPECT_EQ(DefaultLogPath("D:\\WINNT", "setup.x86.exe"), "D:\\WINNT\\Logs\\Software\\setup.x86.log");
  EXPECT_EQ(DefaultLogPath("C:\\Windows", "setup"), "C:\\Windows\\Logs\\Software\\setup.log");
  EXPECT_EQ(DefaultLogPath("", "Setup.exe"), "");
}

class OpenRunLogTest : public LauncherTest {
 protected:
  void TearDown() override {
    CloseRunLog();
    LauncherTest::TearDown();
  }
};

TEST_F(OpenRunLogTest, MissingFoldersAreCreatedProtectedAndEveryRunAppends) {
  const std::string log = "C:\\Logs\\Printers\\Setup.log";
  ASSERT_EQ(OpenRunLog(log), "");
  EXPECT_EQ(EventsStartingWith("mkdir:"),
            (std::vector<std::string>{"mkdir:C:\\Logs " + std::string(kLogFolderSecurity),
                                      "mkdir:C:\\Logs\\Printers " + std::string(kLogFolderSecurity)}));
  EXPECT_EQ(EventsStartingWith("create-append:"),
            (std::vector<std::string>{"create-append:" + log + " " + kLogFileSecurity}));
  LogInformation("first run");
  EXPECT_EQ(OpenRunLog(log), "");
  LogInformation("second run");
  CloseRunLog();
  LogError("dropped: no log is open");
  std::string text = ReadFile(log);
  EXPECT_NE(text.find("first run"), std::string::npos);
  EXPECT_LT(text.find("first run"), text.find("second run"));
  EXPECT_EQ(text.find("dropped"), std::string::npos);
  EXPECT_NE(text.find("component=\"run_log_test\" context=\"NT AUTHORITY\\SYSTEM\" type=\"1\" thread=\"4242\""),
            std::string::npos)
      << text;
}

TEST_F(OpenRunLogTest, NeverThroughALinkNorIntoAFolderOrAFileInTheWay) {
  WriteFile("C:\\Secret\\target.txt", "secret");
  MakeDirectories("C:\\Logs");
  fs::create_symlink(host::HostPath("C:\\Secret\\target.txt"), host::HostPath("C:\\Logs\\Setup.log"));
  fs::create_directory_symlink(host::HostPath("C:\\Secret"), host::HostPath("C:\\Logs\\Linked"));
  MakeDirectories("C:\\Logs\\Folder.log");
  WriteFile("C:\\Logs\\File", "a file");
  EXPECT_EQ(OpenRunLog("C:\\Logs\\Setup.log"), "a link or junction stands in its place");
  EXPECT_EQ(OpenRunLog("C:\\Logs\\Linked\\Setup.log"), "a link or junction stands at C:\\Logs\\Linked");
  EXPECT_EQ(OpenRunLog("C:\\Logs\\Folder.log"), "it is a folder");
  EXPECT_EQ(OpenRunLog("C:\\Logs\\File\\Setup.log"), "C:\\Logs\\File is a file");
  EXPECT_EQ(OpenRunLog("Setup.log"), "it is no full path to a file");
  EXPECT_FALSE(RunLogIsOpen());
  EXPECT_EQ(ReadFile("C:\\Secret\\target.txt"), "secret");
  EXPECT_EQ(fs::directory_iterator(host::HostPath("C:\\Secret"))->path().filename(), "target.txt");
  // A folder swapped for a link after it was made, before the log is opened, is caught there.
  host::BeforeCreatingDirectory([](const std::string& path) {
    if (path != "C:\\Logs\\Late\\Inner") return;
    fs::rename(host::HostPath("C:\\Logs\\Late"), host::HostPath("C:\\Logs\\Moved"));
    fs::create_directory_symlink(host::HostPath("C:\\Secret"), host::HostPath("C:\\Logs\\Late"));
  });
  EXPECT_EQ(OpenRunLog("C:\\Logs\\Late\\Inner\\Setup.log"), "a link or junction stands in its place");
  EXPECT_FALSE(Exists("C:\\Secret\\Inner\\Setup.log"));
}

TEST_F(OpenRunLogTest, PastTenMegabytesTheLogBecomesTheOneOlderFile) {
  const std::string log = "C:\\Logs\\Setup.log";
  for (unsigned long long size : {kLogRotationBytes, kLogRotationBytes + 1}) {
    WriteFile("C:\\Logs\\Setup.lo_", "older");
    WriteFile(log, std::string(size, 'x'));
    ASSERT_EQ(OpenRunLog(log), "");
    CloseRunLog();
    bool rotated = size > kLogRotationBytes;
    EXPECT_EQ(fs::file_size(host::HostPath("C:\\Logs\\Setup.lo_")), rotated ? size : 5u);
    EXPECT_EQ(ReadFile(log).find("was renamed to C:\\Logs\\Setup.lo_") != std::string::npos, rotated);
  }
}

TEST_F(OpenRunLogTest, ALogThatFailsToWriteIsGivenUp) {
  host::FailWritingAfter("Setup.log", 10);
  ASSERT_EQ(OpenRunLog("C:\\Logs\\Setup.log"), "");
  LogInformation("cut short");
  EXPECT_FALSE(RunLogIsOpen());
  host::FailOpening("Other.log");
  EXPECT_EQ(OpenRunLog("C:\\Logs\\Other.log"), "it could not be opened for appending");
}

}  // namespace
