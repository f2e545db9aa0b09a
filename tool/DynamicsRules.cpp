#include "tool/DynamicsRules.h"

#include <cstdio>

std::string FormatDynamicAddress(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", address);
    return text;
}

std::string FormatDynamicValue(uint32_t value, bool hex) {
    char text[16];
    if (hex)
        std::snprintf(text, sizeof text, "0x%X", value);
    else
        std::snprintf(text, sizeof text, "%d", static_cast<int32_t>(value));
    return text;
}

bool ReadDynamicText(const std::string& text, uint32_t& number) {
    if (text.size() >= 2 && text[0] == '0' && text[1] == 'x') {
        unsigned int hex = 0;
        if (std::sscanf(text.c_str() + 2, "%x", &hex) != 1)
            return false;
        number = hex;
        return true;
    }
    int decimal = 0;
    if (std::sscanf(text.c_str(), "%d", &decimal) != 1)
        return false;
    number = static_cast<uint32_t>(decimal);
    return true;
}
