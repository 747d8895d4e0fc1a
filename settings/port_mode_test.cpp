#include "settings/port_mode.h"

#include "testing/host_test_fixture.h"

namespace {

TEST(PortOptionsSuffice, PortAndAddressOrAPrinterShare) {
  struct Row {
    bool port, address, share, suffice;
  };
  for (const Row& row : {Row{true, true, false, true}, Row{true, false, true, true}, Row{true, false, false, false},
                         Row{false, true, false, false}, Row{false, false, false, false}}) {
    LaunchOptions options;
    options.portGiven = row.port;
    options.addressGiven = row.address;
    options.portIsNetworkShare = row.share;
    EXPECT_EQ(PortOptionsSuffice(options), row.suffice) << row.port << row.address << row.share;
  }
}

class IsPortOnCommandLineModeTest : public LauncherTest {};

TEST_F(IsPortOnCommandLineModeTest, OnlyTheWholeLineInAnExistingFile) {
  WriteFile(kSettingsFile, "[Install]\r\nPort=CmdLine\r\n");
  EXPECT_TRUE(IsPortOnCommandLineMode());
  WriteFile(kSettingsFile, "[Install]\r\nPort=CmdLine \r\n");
  EXPECT_FALSE(IsPortOnCommandLineMode());
  host::SetEnvironment("TEMP", "C:\\Nowhere");
  EXPECT_FALSE(IsPortOnCommandLineMode());
}

}  // namespace
