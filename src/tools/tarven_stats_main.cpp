#include <iostream>

#include "tools.h"

int main(int argc, char** argv) {
    return tools::runStats(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
