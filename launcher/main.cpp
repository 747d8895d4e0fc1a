#include "launcher/run_sequence.h"

int main(int argc, char** argv) { return RunLauncher(argc, argv); }
