#pragma once
#include <string>

// Shows the console window and prints the nine-line usage text for launcherFileName.
void ShowHelp(const std::string& launcherFileName);
