#include "tool/KovraApp.h"

int main(int argc, char** argv) {
    return RunKovra(argc, argv);
}
