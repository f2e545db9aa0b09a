// Bound at run time by the DynamicLibrary tests.
extern "C" __attribute__((visibility("default"))) int ProbeValue() {
    return 4410;
}
