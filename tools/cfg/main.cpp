#include <iostream>
#include <string>
#include <vector>

#include "CfgTool.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args;
    if (!kestrel::cfgtool::ProgramArgs(argc, argv, args)) {
        std::cerr << "kestrel-cfg: an argument holds characters that no file name can carry\n";
        return kestrel::cfgtool::kExitUsage;
    }
    return kestrel::cfgtool::Run(args, std::cout, std::cerr);
}
