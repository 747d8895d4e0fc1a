#include "tools/settings_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

class CheckSettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/settings-check-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  SettingsCheck Check(const std::string& bytes) {
    std::string path = directory_ + "/component.isf";
    std::ofstream(path, std::ios::binary) << bytes;
    return CheckSettingsFile(path);
  }

  std::string directory_;
};

std::string Utf16(const std::string& ascii, bool littleEndian) {
  std::string text;
  for (char c : ascii) {
    text += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
  }
  return text;
}

TEST(SettingsEncodingProblem, RefusesWhatTheLauncherCannotReadAsBytes) {
  const std::string settings = "[Install]\r\nPort=CmdLine\r\n";
  struct Case {
    std::string bytes;
    const char* said;
  } cases[] = {
      {"\xEF\xBB\xBF" + settings, "UTF-8 byte-order mark"},
      {"\xFF\xFE" + Utf16(settings, true), "UTF-16 little-endian text (Notepad's \"Unicode\")"},
      {"\xFE\xFF" + Utf16(settings, false), "UTF-16 big-endian text"},
      {Utf16(settings, true), "UTF-16 little-endian text without a byte-order mark"},
      {Utf16(settings, false), "UTF-16 big-endian text without a byte-order mark"},
      {std::string("[Install]\r\nKey=a\0b\r\n", 19), "NUL byte (at byte 16)"},
  };
  for (const Case& c : cases) {
    std::string problem = SettingsEncodingProblem(c.bytes);
    EXPECT_NE(problem.find(c.said), std::string::npos) << problem;
    EXPECT_NE(problem.find("Save it as ANSI text"), std::string::npos) << problem;
  }
  EXPECT_EQ(SettingsEncodingProblem(settings), "");
  EXPECT_EQ(SettingsEncodingProblem("[Driver]\r\nName=Drucker B\xFC"
                                    "ro \xBB"
                                    "Farbe\xAB\r\n"),
            "");
  EXPECT_EQ(SettingsEncodingProblem(""), "");
}

TEST_F(CheckSettingsFileTest, RefusedFilesAreNotLookedInto) {
  SettingsCheck check = Check("\xEF\xBB\xBFPort=CmdLine\r\n");
  EXPECT_NE(check.refusal, "");
  EXPECT_FALSE(check.portFromCommandLine);
  EXPECT_NE(CheckSettingsFile(directory_ + "/missing.isf").refusal, "");
}

TEST_F(CheckSettingsFileTest, NearMissesAreWarnedWithTheirLineNumbers) {
  SettingsCheck check = Check(
      "[Install]\r\n"                // 1
      "Port=CmdLine \r\n"            // 2: a trailing blank
      "\tLicense=1\r\n"              // 3: a leading tab
      "displayui=1\r\n"              // 4: letter case
      "PortRuntimeDiscover = 1\r\n"  // 5: blanks inside
      "[Ports] \r\n"                 // 6
      "[ install ]\r\n"              // 7: "[Install]" is looked for inside lines
      "Port=CmdLine\r\r\n"           // 8: a CR before the CR LF
      "[Other]\rDisplayUI=1\r\n");   // 9: a CR alone does not end a line
  ASSERT_EQ(check.refusal, "");
  ASSERT_EQ(check.warnings.size(), 8u);
  const char* expected[][3] = {
      {"line 2: \"Port=CmdLine \" is not the line \"Port=CmdLine\" (white space after it)",
       "would not take its port from the command line", "Write it exactly as \"Port=CmdLine\""},
      {"line 3: \"<09>License=1\" is not the line \"License=1\" (white space before it)", "standalone run", ""},
      {"line 4: \"displayui=1\" is not the line \"DisplayUI=1\" (another letter case)", "", ""},
      {"line 5: \"PortRuntimeDiscover = 1\" is not the line \"PortRuntimeDiscover=1\" (white space inside it)", "", ""},
      {"line 6: \"[Ports] \" is not the line \"[Ports]\"", "second [Ports] section", ""},
      {"line 7: \"[ install ]\" does not hold \"[Install]\"", "would not be counted", ""},
      {"line 8: \"Port=CmdLine<0D>\" is not the line \"Port=CmdLine\" (white space after it)", "", ""},
      {"line 9: \"[Other]<0D>DisplayUI=1\" holds a CR that no LF follows", "CR LF line ends", ""},
  };
  for (std::size_t i = 0; i < check.warnings.size(); ++i) {
    for (const char* part : expected[i])
      EXPECT_NE(check.warnings[i].find(part), std::string::npos) << check.warnings[i];
  }
  EXPECT_FALSE(check.portFromCommandLine);
  EXPECT_FALSE(check.standaloneRun);
}

TEST_F(CheckSettingsFileTest, LinesTheLauncherFindsAreNotWarned) {
  SettingsCheck check = Check(
      "[Install] ; the section is found inside the line\n"
      "Ports=2\nPort=IP_1\nDisplayUI=0\nLicense=10\nNetwork_Twain=1\n[Ports]\nIP_1=StandardIP");
  EXPECT_EQ(check.refusal, "");
  EXPECT_TRUE(check.warnings.empty()) << check.warnings.front();
  EXPECT_FALSE(check.portFromCommandLine);
  EXPECT_FALSE(check.standaloneRun);
}

TEST_F(CheckSettingsFileTest, DecisionsAreTheLaunchersWithTheLinesThatMadeThem) {
  SettingsCheck port = Check("[Install]\r\nModel=x\r\nPort=CmdLine\r\n");
  EXPECT_TRUE(port.portFromCommandLine);
  EXPECT_EQ(port.portLine, 3);
  EXPECT_FALSE(port.standaloneRun);

  // Each standalone-run key alone is one, and the launcher asks for "License=1" first.
  for (const char* key : {"License=1", "PortRuntimeDiscover=1", "DisplayUI=1"}) {
    SettingsCheck standalone = Check(std::string("[Install]\n") + key);
    EXPECT_TRUE(standalone.standaloneRun) << key;
    EXPECT_EQ(standalone.standaloneKey, key);
    EXPECT_EQ(standalone.standaloneLine, 2);
  }
  SettingsCheck order = Check("DisplayUI=1\nDisplayUI=1\nLicense=1\n");
  EXPECT_EQ(order.standaloneKey, "License=1");
  EXPECT_EQ(order.standaloneLine, 3);
}

TEST_F(CheckSettingsFileTest, OtherLinesThatTheRewriteReplacesAreWarned) {
  SettingsCheck check = Check("[Install]\nRemotePort=CmdLine\nport=cmdline\nPort=CmdLine\n");
  EXPECT_TRUE(check.portFromCommandLine);
  ASSERT_EQ(check.warnings.size(), 2u);
  EXPECT_NE(check.warnings[0].find("line 2: \"RemotePort=CmdLine\" holds \"Port=CmdLine\": a run with /port: replaces "
                                   "this whole line"),
            std::string::npos)
      << check.warnings[0];
  EXPECT_NE(check.warnings[1].find("line 3: \"port=cmdline\" is not the line \"Port=CmdLine\" (another letter case). "
                                   "The launcher compares whole lines byte for byte, so the launcher leaves this line"),
            std::string::npos)
      << check.warnings[1];
  // Without the line itself, the same text switches nothing on and is only copied.
  EXPECT_TRUE(Check("[Install]\nRemotePort=CmdLine\n").warnings.empty());
}

TEST_F(CheckSettingsFileTest, PortsInsideALongerKeyOfInstallIsWarned) {
  // Only where the rewrite counts: from the line after [Install] to the line that ends it.
  SettingsCheck check =
      Check("MaxPorts=1\n[Install]\nMaxPorts=4\nPorts=2\n  Ports=3\n[Next] DefaultPorts=2\nMaxPorts=5\n");
  ASSERT_EQ(check.warnings.size(), 2u);
  EXPECT_EQ(check.warnings[0].rfind("line 3: \"MaxPorts=4\" holds \"Ports=\" only at the end of a longer key", 0), 0u)
      << check.warnings[0];
  EXPECT_EQ(check.warnings[1].rfind("line 6: \"[Next] DefaultPorts=2\" holds", 0), 0u) << check.warnings[1];
}

TEST(VisibleBytes, ShowsEveryByteThatIsNotPrintableAscii) {
  EXPECT_EQ(VisibleBytes("Port=CmdLine "), "Port=CmdLine ");
  EXPECT_EQ(VisibleBytes(std::string("a\tb<c>\r\xFC\x7F\0", 10)), "a<09>b<3C>c><0D><FC><7F><00>");
}

}  // namespace
