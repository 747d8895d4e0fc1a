#include "settings/port_rewrite.h"

#include <unistd.h>

#include <filesystem>

#include "testing/host_test_fixture.h"
#include "workspace/locations.h"

namespace {

// The bytes the rewrite writes for text written with "\n" line ends.
std::string Crlf(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

class RewritePortConfigurationTest : public LauncherTest {
 protected:
  std::string Rewrite(const std::string& settings, const std::string& port = "P", const std::string& address = "A",
                      bool share = false) {
    WriteFile(kSettingsFile, settings);
    EXPECT_TRUE(RewritePortConfiguration(port, address, share));
    EXPECT_FALSE(Exists(std::string(kSettingsFile) + ".tmp"));
    return ReadFile(kSettingsFile);
  }

  // What every rewrite for port P at address A appends after a file without [Ports].
  static std::string PortTail() { return "[Ports]\nP=StandardIP\n\n[P]\nName=P\nHostName=P\nIPAddress=A\n"; }
};

TEST_F(RewritePortConfigurationTest, FirstWorkedExample) {
  std::string result =
      Rewrite("[Install]\nNetwork_Twain=1\nPort=CmdLine\n\n[Other]\nKey=Value\n", "IP_192.168.1.20", "192.168.1.20");
  EXPECT_EQ(result, Crlf("[Install]\n"
                         "Network_Twain=1\n"
                         "Port=IP_192.168.1.20\n"
                         "\n"
                         "Ports=1\n"
                         "\n"
                         "[Other]\n"
                         "Key=Value\n"
                         "\n"
                         "[Ports]\n"
                         "IP_192.168.1.20=StandardIP\n"
                         "\n"
                         "[IP_192.168.1.20]\n"
                         "Name=IP_192.168.1.20\n"
                         "HostName=IP_192.168.1.20\n"
                         "IPAddress=192.168.1.20\n"
                         "\n"
                         "[Network_Twain]\n"
                         "DefaultDevice=192.168.1.20\n"));
}

TEST_F(RewritePortConfigurationTest, SecondWorkedExamplePrinterShare) {
  std::string result = Rewrite("[Install]\nPorts=2\nPort=CmdLine\n\n[Ports]\nOtherPort=StandardIP\n",
                               "\\\\server\\printer", "10.0.0.9", true);
  EXPECT_EQ(result, Crlf("[Install]\n"
                         "Ports=3\n"
                         "Port=\\\\server\\printer\n"
                         "\n"
                         "[Ports]\n"
                         "\\\\server\\printer=LocalPort\n"
                         "\n"
                         "OtherPort=StandardIP\n"
                         "\n"
                         "\n"
                         "[\\\\server\\printer]\n"
                         "Name=\\\\server\\printer\n"));
  EXPECT_EQ(result.find("10.0.0.9"), std::string::npos);
}

TEST_F(RewritePortConfigurationTest, FileShapes) {
  EXPECT_EQ(Rewrite("[Install]\r\nPort=CmdLine"), Crlf("[Install]\nPort=P\n" + PortTail()));
  EXPECT_EQ(Rewrite(""), Crlf("\n" + PortTail()));
  EXPECT_EQ(Rewrite("Port=CmdLine\n"), Crlf("Port=P\n\n" + PortTail()));
  // Lines the pass does not concern are copied as they stand, a lone CR and Ctrl-Z included.
  EXPECT_EQ(Rewrite("a\rb\n\x1a\n"), Crlf("a\rb\n\x1a\n\n" + PortTail()));
}

TEST_F(RewritePortConfigurationTest, LinesAcrossTheReadBufferAreCopiedWhole) {
  std::string longLine(100000, 'x');
  std::string manyLines;
  for (int i = 0; i < 20000; ++i) manyLines += "Key" + std::to_string(i) + "=Value\n";
  std::string input = "[Install]\n" + longLine + "\r\nPort=CmdLine\n" + manyLines + longLine;
  std::string expected = "[Install]\n" + longLine + "\nPort=P\n" + manyLines + longLine + "\n" + PortTail();
  EXPECT_EQ(Rewrite(input), Crlf(expected));
}

TEST_F(RewritePortConfigurationTest, PortCountReadsLikeAtoi) {
  struct Case {
    const char* line;
    const char* expected;
  };
  for (const Case& c : {Case{"Ports=", "Ports=1"}, Case{"Ports=abc", "Ports=1"}, Case{"Ports=-1", "Ports=0"},
                        Case{"Ports= 7x", "Ports=8"}, Case{"Ports=+4", "Ports=5"}, Case{"Ports=\t12", "Ports=13"},
                        Case{"Ports=2147483646", "Ports=2147483647"},
                        // "Ports=%d" writes nothing beyond the int range: the largest count stays.
                        Case{"Ports=2147483647", "Ports=2147483647"}, Case{"Ports=99999999999", "Ports=2147483647"},
                        Case{"Ports=-99999999999", "Ports=-2147483647"}}) {
    std::string result = Rewrite(std::string("[Install]\n") + c.line + "\n[Next]\n");
    EXPECT_EQ(result, Crlf(std::string("[Install]\n") + c.expected + "\n[Next]\n\n" + PortTail())) << c.line;
  }
}

TEST_F(RewritePortConfigurationTest, CountOnlyWherePortsBeginsAKey) {
  struct Case {
    const char* line;
    const char* expected;
  };
  // Another key that ends in "Ports" is copied as it is; a line that "Ports=" begins after a blank, a
  // lone CR or another separator still counts, its number read after the first "=".
  for (const Case& c :
       {Case{"MaxPorts=4", "MaxPorts=4"}, Case{"DefaultPorts=2", "DefaultPorts=2"}, Case{"Max_Ports=4", "Max_Ports=4"},
        Case{"2Ports=4", "2Ports=4"}, Case{"\xC4Ports=4", "\xC4Ports=4"}, Case{"XPorts=2=9", "XPorts=2=9"},
        Case{"  Ports=4x", "Ports=5"}, Case{"\rPorts=4", "Ports=5"}, Case{"Ports=abc", "Ports=1"},
        Case{"MaxPorts=4;Ports=2", "Ports=5"}, Case{"A=Ports=7", "Ports=1"}}) {
    std::string counted = std::string(c.expected).rfind("Ports=", 0) == 0 ? "" : "Ports=1\n\n";
    std::string result = Rewrite(std::string("[Install]\n") + c.line + "\n[Next]\n");
    EXPECT_EQ(result, Crlf(std::string("[Install]\n") + c.expected + "\n" + counted + "[Next]\n\n" + PortTail()))
        << c.line;
  }
}

TEST_F(RewritePortConfigurationTest, InstallHeaderMayStandWithinALine) {
  EXPECT_EQ(Rewrite(" [Install] ; main\nA=1\n[Next]\n"),
            Crlf(" [Install] ; main\nA=1\nPorts=1\n\n[Next]\n\n" + PortTail()));
  // A CR at the end of the file is no line end: the last line keeps it.
  EXPECT_EQ(Rewrite("[X]\nA=1\r"), Crlf("[X]\nA=1\r\n" + PortTail()));
}

TEST_F(RewritePortConfigurationTest, CountLinesOnlyInsideInstall) {
  EXPECT_EQ(Rewrite("[Install]\nPorts=1\nPorts=4\n[Next]\n"),
            Crlf("[Install]\nPorts=2\nPorts=5\n[Next]\n\n" + PortTail()));
  EXPECT_EQ(Rewrite("[Other]\nPorts=5\n[Install]\nA=1\n[Z]\nPorts=7\n"),
            Crlf("[Other]\nPorts=5\n[Install]\nA=1\nPorts=1\n\n[Z]\nPorts=7\n\n" + PortTail()));
  // [Install] as the last section gets no count line.
  EXPECT_EQ(Rewrite("[Install]\nA=1\n"), Crlf("[Install]\nA=1\n\n" + PortTail()));
}

TEST_F(RewritePortConfigurationTest, PortsSectionMustBeTheWholeLine) {
  EXPECT_EQ(Rewrite("[Ports] \nX=1\n"), Crlf("[Ports] \nX=1\n\n" + PortTail()));
  EXPECT_EQ(Rewrite("[Ports]\nX=1\n[Ports]\n"),
            Crlf("[Ports]\nP=StandardIP\n\nX=1\n[Ports]\nP=StandardIP\n\n\n\n[P]\nName=P\nHostName=P\nIPAddress=A\n"));
}

TEST_F(RewritePortConfigurationTest, NetworkTwainSection) {
  std::string withoutTwain = Rewrite("Network_Twain=1\n[Network_Twain]\nX=1\n");
  EXPECT_EQ(withoutTwain.find("DefaultDevice="), std::string::npos);
  EXPECT_EQ(Rewrite("Network_Twain=0\n").find("[Network_Twain]"), std::string::npos);

  std::string share = Rewrite("Network_Twain=1\n", "\\\\s\\p", "10.1.1.1", true);
  EXPECT_EQ(share, Crlf("Network_Twain=1\n\n[Ports]\n\\\\s\\p=LocalPort\n\n[\\\\s\\p]\nName=\\\\s\\p\n"));
}

TEST_F(RewritePortConfigurationTest, CmdLineReplacedWhereverItStands) {
  EXPECT_EQ(Rewrite("[X]\nxPort=CmdLine y\n"), Crlf("[X]\nPort=P\n\n" + PortTail()));
}

class RewriteFailureTest : public RewritePortConfigurationTest {
 protected:
  const std::string original_ = "[Install]\r\nPort=CmdLine\r\n\r\n[Other]\r\nKey=Value\r\n";
  const std::string temporary_ = std::string(kSettingsFile) + ".tmp";

  void ExpectUnchanged() {
    EXPECT_FALSE(RewritePortConfiguration("P", "A", false));
    EXPECT_EQ(ReadFile(kSettingsFile), original_);
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "Unable to write the port configuration to the settings file; it was left unchanged."}));
  }
  void SetUp() override {
    RewritePortConfigurationTest::SetUp();
    WriteFile(kSettingsFile, original_);
  }
};

TEST_F(RewriteFailureTest, TemporaryFileCannotBeCreated) {
  MakeDirectories(temporary_);
  ExpectUnchanged();
  EXPECT_TRUE(Exists(temporary_));
}

TEST_F(RewriteFailureTest, TemporaryNameTakenIsNeitherReusedNorFollowed) {
  // A file of that name (the cabinet may hold one) keeps its bytes and stays.
  WriteFile(temporary_, "from the cabinet, longer than the rewrite would be");
  ExpectUnchanged();
  EXPECT_EQ(ReadFile(temporary_), "from the cabinet, longer than the rewrite would be");
  std::filesystem::remove(host::HostPath(temporary_));
  host::ClearRecords();
  // A link to a file elsewhere, and one that points nowhere yet: nothing is written through them.
  WriteFile("C:\\Elsewhere\\keep.txt", "precious");
  ASSERT_EQ(symlink(host::HostPath("C:\\Elsewhere\\keep.txt").c_str(), host::HostPath(temporary_).c_str()), 0);
  ExpectUnchanged();
  EXPECT_EQ(ReadFile("C:\\Elsewhere\\keep.txt"), "precious");
  EXPECT_TRUE(std::filesystem::is_symlink(host::HostPath(temporary_)));
  std::filesystem::remove(host::HostPath(temporary_));
  host::ClearRecords();
  ASSERT_EQ(symlink(host::HostPath("C:\\Elsewhere\\new.txt").c_str(), host::HostPath(temporary_).c_str()), 0);
  ExpectUnchanged();
  EXPECT_FALSE(Exists("C:\\Elsewhere\\new.txt"));
}

TEST_F(RewriteFailureTest, ReplacementFails) {
  host::FailReplacing();
  ExpectUnchanged();
  EXPECT_FALSE(Exists(temporary_));
}

TEST_F(RewriteFailureTest, ReadFailsMidway) {
  host::FailReadingAfter("component.isf", 12);
  ExpectUnchanged();
  EXPECT_FALSE(Exists(temporary_));
}

TEST_F(RewriteFailureTest, WriteFailsMidway) {
  host::FailWritingAfter("component.isf.tmp", 20);
  ExpectUnchanged();
  EXPECT_FALSE(Exists(temporary_));
}

TEST_F(RewriteFailureTest, MissingSettingsFileCreatesNothing) {
  host::SetEnvironment("TEMP", "C:\\Nowhere");
  ResolveTemporaryDirectory();
  EXPECT_FALSE(RewritePortConfiguration("P", "A", false));
  EXPECT_FALSE(Exists("C:\\Nowhere\\TempExpandedFiles\\install\\component.isf.tmp"));
  EXPECT_TRUE(Lines().empty());
}

}  // namespace
