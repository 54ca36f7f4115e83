// The executable: hands the command line to the program's start.
#include "app/Pagewick.h"

int main(int argc, char** argv) { return RunScrivlet(argc, argv); }
