#include "tools.h"

int main(int argc, char** argv) { return tools::toolMain("tarven-render", argc, argv, tools::runRender); }
