// The item stack of stack files: an ordered list of byte strings, appended at
// the back and taken from the front, and the exception of the stack-file code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <string>
#include <vector>

// Raised by the item stack and the stack file operations only. A fixed-size
// record, copied by value like every error record of the system.
class CStackException : public std::exception {
  public:
    explicit CStackException(const char* message);
    const char* GetMessage() const noexcept { return message_; }
    const char* what() const noexcept override { return message_; }

  private:
    char message_[64];
};

// The texts of CStackException.
inline constexpr const char* kStackReadFailed = "Read from stack failed";
inline constexpr const char* kStackFileNotFound = "File not found";
inline constexpr const char* kStackFileTooSmall = "Stack file to small";
inline constexpr const char* kStackBadVersion = "Incorrect version number in stack file";
inline constexpr const char* kStackInvalid = "Invalid stack file";
inline constexpr const char* kStackNotCreated = "File was not created";

class CItemStack {
  public:
    using Item = std::vector<uint8_t>;

    // Appends an item of length bytes (0 allowed; data may then be null).
    void Push(const void* data, size_t length);
    void Push(Item item) { items_.push_back(std::move(item)); }
    // A 4-byte little-endian item.
    void PushU32(uint32_t value);
    // A length item, then an item with the string's bytes (no terminating NUL).
    void PushString(const std::string& text);

    // Removes the front item, which must be exactly length bytes long, into dest.
    // An empty stack or a front item of another length raises "Read from stack
    // failed" and leaves the stack as it was.
    void Pop(void* dest, size_t length);
    Item PopItem(size_t length);
    uint32_t PopU32();
    std::string PopString();

    size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }
    const std::deque<Item>& Items() const { return items_; }
    void Clear() { items_.clear(); }

    bool operator==(const CItemStack&) const = default;

  private:
    // Throws unless the front item is exactly length bytes long.
    const Item& CheckFront(size_t length) const;

    std::deque<Item> items_;
};
