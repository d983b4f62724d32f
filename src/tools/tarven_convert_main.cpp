#include <iostream>

#include "convert.h"
#include "outputfile.h"
#include "tools.h"

int main(int argc, char** argv) {
    tools::holdStandardStreams();
    tools::installSignalCleanup();
    const int code = tools::runConvert(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    return tools::closeStandardOutput("tarven-convert", code);
}
