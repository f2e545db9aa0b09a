#include "engine/formats/SBFItemStack.h"

#include <algorithm>
#include <cstring>

CStackException::CStackException(const char* message) {
    const char* text = message ? message : "";
    const size_t n = std::min(std::strlen(text), sizeof(message_) - 1);
    std::memcpy(message_, text, n);
    message_[n] = '\0';
}

void CItemStack::Push(const void* data, size_t length) {
    Item item(length);
    if (length > 0)
        std::memcpy(item.data(), data, length);
    items_.push_back(std::move(item));
}

void CItemStack::PushU32(uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    Push(bytes, sizeof(bytes));
}

void CItemStack::PushString(const std::string& text) {
    PushU32(static_cast<uint32_t>(text.size()));
    Push(text.data(), text.size());
}

const CItemStack::Item& CItemStack::CheckFront(size_t length) const {
    if (items_.empty() || items_.front().size() != length)
        throw CStackException(kStackReadFailed);
    return items_.front();
}

void CItemStack::Pop(void* dest, size_t length) {
    const Item& front = CheckFront(length);
    if (length > 0)
        std::memcpy(dest, front.data(), length);
    items_.pop_front();
}

CItemStack::Item CItemStack::PopItem(size_t length) {
    CheckFront(length);
    Item item = std::move(items_.front());
    items_.pop_front();
    return item;
}

uint32_t CItemStack::PopU32() {
    uint8_t b[4];
    Pop(b, sizeof(b));
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

std::string CItemStack::PopString() {
    // Both items are checked before either is taken, so a failure leaves the
    // stack as it was.
    if (items_.size() < 2)
        throw CStackException(kStackReadFailed);
    const Item& lengthItem = CheckFront(4);
    const uint32_t length =
        static_cast<uint32_t>(lengthItem[0]) | static_cast<uint32_t>(lengthItem[1]) << 8 |
        static_cast<uint32_t>(lengthItem[2]) << 16 | static_cast<uint32_t>(lengthItem[3]) << 24;
    if (items_[1].size() != length)
        throw CStackException(kStackReadFailed);
    items_.pop_front();
    const Item& text = items_.front();
    std::string result(text.begin(), text.end());
    items_.pop_front();
    return result;
}
