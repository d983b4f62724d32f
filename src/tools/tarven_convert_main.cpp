#include "convert.h"
#include "tools.h"

int main(int argc, char** argv) { return tools::toolMain("tarven-convert", argc, argv, tools::runConvert); }
