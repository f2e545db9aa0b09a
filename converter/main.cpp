#include "converter/Quillon.h"

int main(int argc, char** argv) {
    return qel::quillon::Run(std::vector<std::string>(argv, argv + argc), stdout);
}
