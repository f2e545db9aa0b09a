// Block type codes: the first word of every block header. The low half is
// the block class, the high half a user block's sub-type. Named here once
// for the engine's blocks and the bench's view of a flash.
#pragma once

#include <cstdint>

namespace qel::block {

inline constexpr uint32_t kTypeInit = 0;
inline constexpr uint32_t kTypeBootLoader = 1;
inline constexpr uint32_t kTypeFdb = 2;
inline constexpr uint32_t kTypeFpga = 3;
inline constexpr uint32_t kTypeDynamics = 4;
inline constexpr uint32_t kTypeUser = 5;
inline constexpr uint32_t kTypeTermination = 0xFFFF;

// Sub-types of user blocks.
inline constexpr uint32_t kSubTypeExec = 0x01;
inline constexpr uint32_t kSubTypeApp = 0x02;
inline constexpr uint32_t kSubTypeData = 0x10;
inline constexpr uint32_t kSubTypeSRecord = 0x11;

constexpr uint32_t ClassOf(uint32_t type) {
    return type & 0xFFFF;
}
constexpr uint32_t SubTypeOf(uint32_t type) {
    return type >> 16;
}
constexpr uint32_t UserType(uint32_t subType) {
    return subType << 16 | kTypeUser;
}

// The block header's signature word, and the init image's magic word.
inline constexpr uint32_t kBlockSignature = 0x12341234;
inline constexpr uint32_t kInitMagic = 0x19283746;

}  // namespace qel::block
