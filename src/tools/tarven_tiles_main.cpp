#include <iostream>

#include "outputfile.h"
#include "tilestool.h"

int main(int argc, char** argv) {
    tools::installSignalCleanup();
    return tools::runTiles(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
