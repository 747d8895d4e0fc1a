#include "settings/port_mode.h"

#include <algorithm>

#include "common/console.h"
#include "common/process_state.h"
#include "testing/host_test_fixture.h"

namespace {

const char kLine1[] = "Error - package is configured for port and address or hostname on cmd line, but";
const char kLine2[] = "these params were not found";
const char kPortLine[] = "/port: parameter not found or no value was specified";
const char kAddressLine[] = "/address: parameter not found or no value was specified";

class ValidatePortOptionsTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    WriteFile(kSettingsFile, "[Install]\r\nPort=CmdLine\r\n");
  }
  void Given(bool port, bool address, bool share) {
    launchOptions.portGiven = port;
    launchOptions.addressGiven = address;
    launchOptions.portIsNetworkShare = share;
  }
};

TEST_F(ValidatePortOptionsTest, OutcomeTable) {
  struct Row {
    bool port, address, share, result;
    std::vector<std::string> lines;
  };
  for (const Row& row :
       {Row{true, true, false, true, {}}, Row{true, true, true, true, {}}, Row{true, false, true, true, {}},
        Row{true, false, false, false, {kLine1, kLine2, kAddressLine}},
        Row{false, true, false, false, {kLine1, kLine2, kPortLine}},
        Row{false, false, false, false, {kLine1, kLine2, kPortLine, kAddressLine}}}) {
    host::ClearRecords();
    launchOptions = LaunchOptions();
    Given(row.port, row.address, row.share);
    EXPECT_EQ(ValidatePortOptions(), row.result);
    EXPECT_EQ(Lines(), row.lines);
    // The window is shown before the error lines, and only when there are some.
    std::vector<std::string> expectedWindow;
    if (!row.result) expectedWindow.push_back("window:1");
    EXPECT_EQ(EventsStartingWith("window:"), expectedWindow);
    if (!row.result) {
      const std::vector<std::string>& events = host::Events();
      auto firstLine = std::find_if(events.begin(), events.end(),
                                    [](const std::string& event) { return event.rfind("line:", 0) == 0; });
      EXPECT_NE(std::find(events.begin(), firstLine, "window:1"), firstLine);
    }
  }
}

TEST_F(ValidatePortOptionsTest, WithoutAConsoleWindowNothingIsShownButTheLinesArePrinted) {
  host::SetConsoleWindow(false);
  FetchConsoleWindow();
  EXPECT_FALSE(ValidatePortOptions());
  EXPECT_EQ(Lines(), (std::vector<std::string>{kLine1, kLine2, kPortLine, kAddressLine}));
  for (const std::string& event : host::Events()) EXPECT_NE(event.rfind("window", 0), 0u) << event;
}

TEST_F(ValidatePortOptionsTest, NotInPortModeNeedsNoOptions) {
  WriteFile(kSettingsFile, "[Install]\r\nPort=CmdLine \r\n");
  EXPECT_FALSE(IsPortOnCommandLineMode());
  EXPECT_TRUE(ValidatePortOptions());
  EXPECT_TRUE(Lines().empty());
}

TEST_F(ValidatePortOptionsTest, MissingSettingsFileIsNotPortMode) {
  host::SetEnvironment("TEMP", "C:\\Nowhere");
  EXPECT_FALSE(IsPortOnCommandLineMode());
  EXPECT_TRUE(ValidatePortOptions());
}

}  // namespace
