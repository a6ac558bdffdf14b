#include <iostream>
#include <string>
#include <vector>

#include "CfgTool.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return kestrel::cfgtool::Run(args, std::cout, std::cerr);
}
