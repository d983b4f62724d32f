#include "generate.h"
#include "tools.h"

int main(int argc, char** argv) { return tools::toolMain("tarven-generate", argc, argv, tools::runGenerate); }
