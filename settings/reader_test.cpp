#include "settings/reader.h"

#include "testing/host_test_fixture.h"
#include "workspace/locations.h"

namespace {

class SettingsFileHasLineTest : public LauncherTest {
 protected:
  bool Has(const std::string& contents, const std::string& key) {
    WriteFile(kSettingsFile, contents);
    return SettingsFileHasLine(key, kSettingsFile);
  }
};

TEST_F(SettingsFileHasLineTest, WholeLinesWithEitherLineEnd) {
  EXPECT_TRUE(Has("[Install]\r\nPort=CmdLine\r\n", "Port=CmdLine"));
  EXPECT_TRUE(Has("[Install]\nPort=CmdLine\n", "Port=CmdLine"));
  EXPECT_TRUE(Has("[Install]\nPort=CmdLine", "Port=CmdLine"));
  EXPECT_TRUE(Has("Port=CmdLine\n[Install]\n", "Port=CmdLine"));
  EXPECT_TRUE(Has("[A]\nx=1\n[B]\r\nPort=CmdLine\r\n[C]\n", "Port=CmdLine"));
}

TEST_F(SettingsFileHasLineTest, LinesThatOnlyLookAlike) {
  for (const char* contents : {"Port=CmdLine \r\n", " Port=CmdLine\r\n", "port=cmdline\r\n", "Port=CmdLine\t\n",
                               "Port=CmdLine2\n", "XPort=CmdLine\n", "Port=CmdLin\n", "Port=CmdLine\r\r\n",
                               "Port=Cmd\rLine\n", "Port=CmdLine\r", "A\nPort=CmdLine\r"}) {
    EXPECT_FALSE(Has(contents, "Port=CmdLine")) << "contents: " << contents;
  }
}

TEST_F(SettingsFileHasLineTest, EmptyAndMissing) {
  EXPECT_FALSE(Has("", "Port=CmdLine"));
  EXPECT_FALSE(Has("\n\n", "Port=CmdLine"));
  EXPECT_FALSE(Has("\n", ""));
  EXPECT_FALSE(SettingsFileHasLine("Port=CmdLine", "C:\\Temp\\missing.isf"));
}

TEST_F(SettingsFileHasLineTest, LinesLongerThanAnyBuffer) {
  std::string longLine(1 << 20, 'x');
  EXPECT_TRUE(Has(longLine + "\nPort=CmdLine\n" + longLine, "Port=CmdLine"));
  EXPECT_FALSE(Has("Port=CmdLine" + longLine + "\n", "Port=CmdLine"));
  EXPECT_TRUE(Has(longLine + "\r\n" + longLine + "\r\n", longLine));
}

TEST_F(SettingsFileHasLineTest, ControlZDoesNotEndTheFile) {
  EXPECT_TRUE(Has("[Install]\n\x1a\nPort=CmdLine\n", "Port=CmdLine"));
}

TEST_F(SettingsFileHasLineTest, ReadErrorEndsTheScan) {
  host::FailReadingAfter("component.isf", 4);
  EXPECT_FALSE(Has("abc\nPort=CmdLine\n", "Port=CmdLine"));
}

TEST_F(SettingsFileHasLineTest, PathIsUnderTheExpansionDirectory) {
  host::SetEnvironment("TEMP", "D:\\Some Temp");
  MakeDirectories("D:\\Some Temp");
  ResolveTemporaryDirectory();
  EXPECT_EQ(SettingsFilePath(), "D:\\Some Temp\\TempExpandedFiles\\install\\component.isf");
}

}  // namespace
