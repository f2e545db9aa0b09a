#include "firmware/tool/SampleTims.h"

namespace qel::firmware {

namespace {

// QT-TEST10 has no files of its own: it names QT-6201's.
constexpr SampleTim kSampleTims[] = {
    {"QT-6201", 0x11, 0x00000000, 0x80000000, 0x10000, 32, false, "bl_qt6201.out", "fp_qt6201.out",
     "QT6201 BOOT v2.1", 0x00020001},
    {"QT-6202C", 0x19, 0x00000000, 0x80000000, 0x20000, 32, false, "bl_qt6202c.out",
     "fp_qt6202c.out", "QT6202C BOOT 2.1", 0x00020001},
    {"QT-6403", 0x21, 0x00000000, 0x80000000, 0x10000, 64, false, "bl_qt6403.out", "fp_qt6403.out",
     "QT6403 BOOT v2.1", 0x00020001},
    {"QT-6415W", 0x29, 0x00000000, 0x80000000, 0x40000, 64, true, "bl_qt6415w.out",
     "fp_qt6415w.out", "QT6415W BOOT 2.1", 0x00020001},
    {"QT-6710B", 0x31, 0x00000000, 0x80000000, 0x10000, 16, false, "bl_qt6710b.out",
     "fp_qt6710b.out", "QT6710B BOOT 2.1", 0x00020001},
    {"QT-6100L", 0x39, 0x00000000, 0x80000000, 0x10000, 16, false, "bl_qt6100l.out",
     "fp_qt6100l.out", "QT6100L BOOT 1.4", 0x00010004},
    {"QT-6300N", 0x41, 0x00000000, 0x80000000, 0x10000, 32, false, "bl_qt6300n.out",
     "fp_qt6300n.out", "QT6300N BOOT 2.1", 0x00020001},
};

}  // namespace

std::span<const SampleTim> SampleTims() {
    return kSampleTims;
}

uint32_t CommandBlockAddress(const SampleTim& tim) {
    return tim.internalStart + (tim.wideCommandBlock ? 0x10000 : 0x800);
}

}  // namespace qel::firmware
