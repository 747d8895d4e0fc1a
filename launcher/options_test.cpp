#include "launcher/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/process_state.h"

namespace {

RunResult Parse(std::vector<std::string> arguments) {
  launchOptions = LaunchOptions();
  arguments.insert(arguments.begin(), "C:\\pkg\\Setup.exe");
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(ParseCommandLine, NoArgumentsRunWithEmptyOptions) {
  EXPECT_EQ(Parse({}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "");
  EXPECT_FALSE(launchOptions.portGiven || launchOptions.addressGiven || launchOptions.languageGiven ||
               launchOptions.portIsNetworkShare);
}

TEST(ParseCommandLine, OptionsFoldCaseButValuesKeepIt) {
  EXPECT_EQ(Parse({"/PORT:LPT1:", "/Address:Printer.Example", "/L:DE"}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "LPT1:");
  EXPECT_TRUE(launchOptions.portGiven);
  EXPECT_FALSE(launchOptions.portIsNetworkShare);
  EXPECT_EQ(launchOptions.printerAddress, "Printer.Example");
  EXPECT_TRUE(launchOptions.addressGiven);
  EXPECT_EQ(launchOptions.languageCode, "/L:DE");
  EXPECT_TRUE(launchOptions.languageGiven);
}

TEST(ParseCommandLine, TextBeforeAnOptionIsIgnored) {
  EXPECT_EQ(Parse({"xx/port:LPT1"}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "LPT1");
}

TEST(ParseCommandLine, FirstOptionInFixedOrderDecides) {
  EXPECT_EQ(Parse({"x/port:a/l:b"}), RunResult::Run);
  EXPECT_EQ(launchOptions.languageCode, "/l:b");
  EXPECT_FALSE(launchOptions.portGiven);

  EXPECT_EQ(Parse({"/port:a/?"}), RunResult::Help);
  EXPECT_EQ(Parse({"/address:/port:x"}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "x");
  EXPECT_FALSE(launchOptions.addressGiven);
}

TEST(ParseCommandLine, ValuesAreCutAtTheirLimits) {
  EXPECT_EQ(Parse({"/l:abcdefgh"}), RunResult::Run);
  EXPECT_EQ(launchOptions.languageCode, "/l:abcdef");

  std::string longValue(300, 'p');
  Parse({"/port:" + longValue, "/address:" + longValue});
  EXPECT_EQ(launchOptions.portName, std::string(255, 'p'));
  EXPECT_EQ(launchOptions.printerAddress, std::string(255, 'p'));
}

TEST(ParseCommandLine, EmptyValues) {
  EXPECT_EQ(Parse({"/port:", "/address:", "/l:"}), RunResult::Run);
  EXPECT_FALSE(launchOptions.portGiven);
  EXPECT_FALSE(launchOptions.addressGiven);
  EXPECT_EQ(launchOptions.languageCode, "/l:");
  EXPECT_TRUE(launchOptions.languageGiven);
}

TEST(ParseCommandLine, LaterOccurrenceReplacesTextAndFlags) {
  Parse({"/port:a", "/port:b"});
  EXPECT_EQ(launchOptions.portName, "b");

  Parse({"/port:\\\\srv\\prn", "/port:LPT1"});
  EXPECT_EQ(launchOptions.portName, "LPT1");
  EXPECT_TRUE(launchOptions.portGiven);
  EXPECT_FALSE(launchOptions.portIsNetworkShare);

  Parse({"/port:a", "/port:", "/address:x", "/address:"});
  EXPECT_FALSE(launchOptions.portGiven);
  EXPECT_FALSE(launchOptions.addressGiven);
}

TEST(ParseCommandLine, StopsAtTheFirstBadArgument) {
  EXPECT_EQ(Parse({"/port:x", "/bogus", "/?"}), RunResult::Invalid);
  EXPECT_EQ(launchOptions.portName, "x");

  EXPECT_EQ(Parse({"/?", "/bogus"}), RunResult::Help);
}

TEST(ParseCommandLine, ArgumentsThatAreNoOption) {
  for (const char* argument : {"", "/port", "-port:x", "port:x", "/addr:x", "/L"}) {
    EXPECT_EQ(Parse({argument}), RunResult::Invalid) << "argument: " << argument;
  }
}

TEST(ParseCommandLine, BytesAboveAsciiAreNotFolded) {
  // 0xC4 is not a letter A-Z; it must neither match nor shift positions.
  EXPECT_EQ(Parse({"\xC4/PORT:\xC4X"}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "\xC4X");
}

TEST(IsNetworkSharePath, Examples) {
  EXPECT_TRUE(IsNetworkSharePath("\\\\srv\\prn"));
  EXPECT_TRUE(IsNetworkSharePath("\\\\srv\\prn\\x"));
  EXPECT_FALSE(IsNetworkSharePath("\\\\srv"));
  EXPECT_FALSE(IsNetworkSharePath("LPT1:"));
  EXPECT_FALSE(IsNetworkSharePath("x\\\\srv\\prn"));
  EXPECT_FALSE(IsNetworkSharePath(""));
}

TEST(ParseCommandLine, ShareFlagFollowsThePortName) {
  Parse({"/port:\\\\srv\\prn"});
  EXPECT_TRUE(launchOptions.portGiven);
  EXPECT_TRUE(launchOptions.portIsNetworkShare);
  Parse({"/port:\\\\srv"});
  EXPECT_TRUE(launchOptions.portGiven);
  EXPECT_FALSE(launchOptions.portIsNetworkShare);
}

TEST(ReadFleetArgument, WholeArgumentsInAnyCaseWithValuesTheLauncherTakes) {
  for (const char* valid :
       {"/EXITCODES:Msi", "/timeout:1", "/TIMEOUT:1440", "/log", "/LOG:C:\\Logs\\a.log", "/log:\\\\srv\\logs\\a.log"}) {
    EXPECT_TRUE(ReadFleetArgument(valid).problem.empty()) << valid;
  }
  for (const char* invalid : {"/exitcodes:msix", "/timeout:0", "/timeout:1441", "/timeout:sixty", "/timeout:+60",
                              "/timeout:99999999999", "/log:", "/log:a.log", "/log:C:\\Logs\\"}) {
    EXPECT_FALSE(ReadFleetArgument(invalid).problem.empty()) << invalid;
  }
  for (const char* other : {"/logfile", "x/log", "/timeout", "/port:/log"}) {
    EXPECT_EQ(ReadFleetArgument(other).option, FleetOption::None) << other;
  }
}

TEST(ParseCommandLine, FleetOptionsArePassedOverAndRefusedWhereInvalidOrRepeated) {
  // A log's path is never searched for another option.
  EXPECT_EQ(Parse({"/log:C:\\a/?b/port:x.log", "/port:p", "/timeout:5", "/exitcodes:msi"}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "p");
  EXPECT_EQ(Parse({"/?", "/timeout:0"}), RunResult::Help);
  for (auto [arguments, refusal] : std::vector<std::pair<std::vector<const char*>, std::string>>{
           {{"Setup.exe", "/bogus"}, "\"/bogus\" is no option."},
           {{"Setup.exe", "/timeout:0", "/?"}, "\"/timeout:0\" gives no number of minutes from 1 to 1440."},
           {{"Setup.exe", "/log", "/LOG:C:\\a.log"}, "\"/LOG:C:\\a.log\" repeats an option given before."}}) {
    std::string said;
    EXPECT_EQ(ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), &said), RunResult::Invalid);
    EXPECT_EQ(said, refusal);
  }
}

TEST(ReadFleetOptions, FoundWhereverTheyStandAndATwiceNamedLogIsLeftOut) {
  std::vector<const char*> argv = {"Setup.exe", "/bogus", "/?", "/exitcodes:MSI", "/timeout:30", "/log"};
  ReadFleetOptions(static_cast<int>(argv.size()), argv.data());
  EXPECT_TRUE(launchOptions.msiExitCodes);
  EXPECT_EQ(launchOptions.timeLimitMinutes, 30u);
  EXPECT_EQ(launchOptions.logPath, "");
  argv = {"Setup.exe", "/log", "/log:C:\\a.log"};
  ReadFleetOptions(static_cast<int>(argv.size()), argv.data());
  EXPECT_FALSE(launchOptions.logPath);
}

}  // namespace
