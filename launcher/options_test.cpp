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
  struct Case {
    const char* argument;
    FleetOption option;
    bool valid;
  };
  for (const Case& c : std::vector<Case>{
           {"/exitcodes:msi", FleetOption::ExitCodes, true},
           {"/EXITCODES:Msi", FleetOption::ExitCodes, true},
           {"/exitcodes:", FleetOption::ExitCodes, false},
           {"/exitcodes:msix", FleetOption::ExitCodes, false},
           {"/timeout:1", FleetOption::TimeLimit, true},
           {"/TIMEOUT:1440", FleetOption::TimeLimit, true},
           {"/timeout:0", FleetOption::TimeLimit, false},
           {"/timeout:1441", FleetOption::TimeLimit, false},
           {"/timeout:sixty", FleetOption::TimeLimit, false},
           {"/timeout:", FleetOption::TimeLimit, false},
           {"/timeout:+60", FleetOption::TimeLimit, false},
           {"/timeout:99999999999", FleetOption::TimeLimit, false},
           {"/log", FleetOption::Log, true},
           {"/LOG:C:\\Logs\\a.log", FleetOption::Log, true},
           {"/log:\\\\srv\\logs\\a.log", FleetOption::Log, true},
           {"/log:", FleetOption::Log, false},
           {"/log:a.log", FleetOption::Log, false},
           {"/log:C:\\Logs\\", FleetOption::Log, false},
           {"/logfile", FleetOption::None, false},
           {"x/log", FleetOption::None, false},
           {"/timeout", FleetOption::None, false},
           {"/port:/log", FleetOption::None, false},
       }) {
    FleetArgument fleet = ReadFleetArgument(c.argument);
    EXPECT_EQ(fleet.option, c.option) << c.argument;
    EXPECT_EQ(fleet.problem.empty(), c.valid || c.option == FleetOption::None) << c.argument;
  }
  EXPECT_EQ(ReadFleetArgument("/timeout:0060").minutes, 60u);
  EXPECT_EQ(ReadFleetArgument("/Log:C:\\Logs\\A.log").logPath, "C:\\Logs\\A.log");
}

TEST(ParseCommandLine, FleetOptionsArePassedOverAndRefusedWhereInvalidOrRepeated) {
  // A log's path is never searched for another option.
  EXPECT_EQ(Parse({"/log:C:\\a/?b/port:x.log", "/port:p"}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "p");
  struct Case {
    std::vector<std::string> arguments;
    RunResult result;
    const char* refusal;
  };
  for (const Case& c : std::vector<Case>{
           {{"/bogus"}, RunResult::Invalid, "\"/bogus\" is no option."},
           {{"/timeout:0", "/?"}, RunResult::Invalid, "\"/timeout:0\" gives no number of minutes from 1 to 1440."},
           {{"/?", "/timeout:0"}, RunResult::Help, ""},
           {{"/log", "/LOG:C:\\a.log"}, RunResult::Invalid, "\"/LOG:C:\\a.log\" repeats an option given before."},
           {{"/exitcodes:msi", "/timeout:5", "/log", "/port:x"}, RunResult::Run, ""},
       }) {
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.begin(), "C:\\pkg\\Setup.exe");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    std::string refusal;
    EXPECT_EQ(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &refusal), c.result) << arguments[1];
    EXPECT_EQ(refusal, c.refusal);
  }
}

TEST(ReadFleetOptions, FoundWhereverTheyStandAndATwiceNamedLogIsLeftOut) {
  std::vector<const char*> argv = {"Setup.exe", "/bogus", "/?", "/exitcodes:MSI", "/timeout:30", "/log"};
  ReadFleetOptions(static_cast<int>(argv.size()), argv.data());
  EXPECT_TRUE(launchOptions.msiExitCodes);
  EXPECT_EQ(launchOptions.timeLimitMinutes, 30u);
  EXPECT_EQ(launchOptions.logPath, "");
  argv = {"Setup.exe", "/log", "/log:C:\\a.log", "/exitcodes:other"};
  ReadFleetOptions(static_cast<int>(argv.size()), argv.data());
  EXPECT_FALSE(launchOptions.logPath);
  EXPECT_FALSE(launchOptions.msiExitCodes);
  EXPECT_EQ(launchOptions.timeLimitMinutes, 0u);
}

}  // namespace
