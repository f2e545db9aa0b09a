#include "builder/GorlinApp.h"

int main(int argc, char** argv) {
    return RunGorlin(argc, argv);
}
