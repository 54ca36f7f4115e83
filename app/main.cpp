#include "app/Pagewick.h"

int main(int argc, char** argv) { return RunScrivlet(argc, argv); }
