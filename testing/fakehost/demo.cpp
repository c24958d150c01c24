// Writes the README demo host (8 GPUs behind two PCIe switches) into the given directory.
#include <cstdio>

#include "fakehost.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    if (fakehost::writeHost(argv[1], fakehost::demoHost()).empty()) return 1;
    std::printf("%s\n", argv[1]);
    return 0;
}
