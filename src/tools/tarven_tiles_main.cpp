#include "tilestool.h"
#include "tools.h"

int main(int argc, char** argv) { return tools::toolMain("tarven-tiles", argc, argv, tools::runTiles); }
