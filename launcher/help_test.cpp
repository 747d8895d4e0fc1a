#include "launcher/help.h"

#include "platform/host_test_fixture.h"

namespace {

using ShowHelpTest = LauncherTest;

TEST_F(ShowHelpTest, PrintsTheNineLinesWithTheFileName) {
  ShowHelp("Setup.exe");
  std::vector<std::string> expected = {
      "Help Menu for Setup.exe",
      "Syntax:\tSetup.exe /parameter",
      "Parameters: ",
      "\t/?\t- Display Help Menu (This Menu)",
      "   /l:(two letter language code) - force install to display in the specified language",
      "   /address:(IP or network name) - specify IP address of the target printer",
      "   /port:(portname) - specify port name to be created",
      "The /port: and /address: parameters are useable only with",
      "a packge created with Specify Port on Cmd line option.",
  };
  EXPECT_EQ(Lines(), expected);
  EXPECT_EQ(host::UnflushedOutput(), "");
  EXPECT_EQ(host::Events().front(), "window:5");
}

}  // namespace
