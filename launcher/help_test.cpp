#include "launcher/help.h"

#include "testing/help_screen.h"
#include "testing/host_test_fixture.h"

namespace {

using ShowHelpTest = LauncherTest;

TEST_F(ShowHelpTest, PrintsTheNineLinesWithTheFileName) {
  ShowHelp("Setup.exe");
  EXPECT_EQ(Lines(), HelpScreenForSetupExe());
  EXPECT_EQ(host::UnflushedOutput(), "");
  EXPECT_EQ(host::Events().front(), "window:5");
}

}  // namespace
