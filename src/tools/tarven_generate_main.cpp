#include <iostream>

#include "generate.h"
#include "outputfile.h"
#include "tools.h"

int main(int argc, char** argv) {
    tools::holdStandardStreams();
    tools::installSignalCleanup();
    tools::frugalThreads();
    const int code = tools::runGenerate(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    return tools::closeStandardOutput("tarven-generate", code);
}
