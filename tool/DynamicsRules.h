// The Dynamics page's rules without a window: how its two columns are
// written and how the texts of the add and edit dialog are read.
#pragma once

#include <cstdint>
#include <string>

// "0x%08X".
std::string FormatDynamicAddress(uint32_t address);
// "0x%X" in hex mode, else signed decimal.
std::string FormatDynamicValue(uint32_t value, bool hex);

// A text that begins with exactly "0x" is read as hexadecimal, any other as
// signed decimal, each as far as it reads. True and number set when the text
// could be read at all; false leaves number as it was.
bool ReadDynamicText(const std::string& text, uint32_t& number);
