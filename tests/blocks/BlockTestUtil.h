// Helpers shared by the block tests.
#pragma once

#include "Telmar.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace blocktest {

// The engine error code a call raises, 0 when it returns.
template <typename Fn>
uint32_t CodeOf(Fn&& fn) {
    try {
        fn();
    } catch (const CFlashExc& e) {
        return e.code;
    }
    return 0;
}

// The whole error record of a call that must raise.
template <typename Fn>
std::string DetailOf(Fn&& fn) {
    try {
        fn();
    } catch (const CFlashExc& e) {
        return e.detail;
    }
    return "<no error>";
}

// Names parameterised cases after their `name` member.
struct ByName {
    template <typename Info>
    std::string operator()(const Info& param) const {
        return param.param.name;
    }
};

inline uint32_t Word(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t v = 0;
    std::memcpy(&v, bytes.data() + offset, 4);
    return v;
}

inline void PutWord(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    std::memcpy(bytes.data() + offset, &value, 4);
}

inline UserBlockRecord Record(const std::string& fileName, bool bigEndian = false,
                              bool bootable = false) {
    UserBlockRecord r{};
    r.bootable = bootable ? 1 : 0;
    r.bigEndian = bigEndian ? 1 : 0;
    std::strncpy(r.fileName, fileName.c_str(), sizeof(r.fileName) - 1);
    return r;
}

}  // namespace blocktest
