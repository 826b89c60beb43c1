#include "ui/cube_icon.h"

#include <cstdio>

// Writes the window's icon as a PNG for the desktop entry, so that the installed icon and the one
// in the title bar are the same drawing.
int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.png\n", argv[0]);
        return 64;
    }
    if (!darq::cubeIconImage().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
