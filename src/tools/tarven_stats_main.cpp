#include "tools.h"

int main(int argc, char** argv) { return tools::toolMain("tarven-stats", argc, argv, tools::runStats); }
