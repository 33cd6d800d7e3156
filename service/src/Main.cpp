#include "CommandLine.h"

int main(int argc, char** argv)
{
    return kelvora::RunCommandLine(argc, argv);
}
