// Prints Wine's ANSI code page to the file named on the command line; the test
// session refuses to start unless it is 936.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    FILE* file = std::fopen(argv[1], "w");
    if (!file)
        return 2;
    std::fprintf(file, "%u\n", GetACP());
    std::fclose(file);
    return GetACP() == 936 ? 0 : 1;
}
