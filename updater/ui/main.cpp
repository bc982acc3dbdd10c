// main.cpp: Velmoran, the player's updater and launcher.
#include "updater/ui/UnitMain.h"

int main(int argc, char** argv) {
    return velmoran::RunVelmoran(argc, argv);
}
