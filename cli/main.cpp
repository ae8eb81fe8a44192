// morvane-cli: the engine driven from a terminal, the way the window drives it.
#include "cli.h"

int main(int argc, char** argv) { return RunCli(argc, argv); }
