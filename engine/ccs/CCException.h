// The Code Composer layer's exception: a status code and/or a message text.
//
// Thrown and caught by value (catch (const CCException&)); it holds no pointers
// so it can be copied freely across threads and library boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

// Code given to a call on an empty wrapper; from this code on (read as signed)
// a non-empty own message wins over the system text of the code.
constexpr int32_t CCS_E_INVALID_WRAPPER = static_cast<int32_t>(0x80040200u);

class __attribute__((visibility("default"))) CCException : public std::exception {
  public:
    // From a failed status code; the message stays empty.
    explicit CCException(int32_t code);
    // From a text; the code is 0.
    explicit CCException(const char* message);
    // Both, as the empty-wrapper error carries.
    CCException(int32_t code, const char* message);
    CCException(const CCException&) = default;
    CCException& operator=(const CCException&) = default;
    ~CCException() override;

    int32_t Code() const { return code_; }
    const char* Message() const { return message_; }

    // The text shown for this error: the own message when the code is 0, or
    // when there is a message and the code is at least CCS_E_INVALID_WRAPPER;
    // otherwise the system's description of the code. Copies at most size - 1
    // characters and terminates; false when size is 0.
    bool GetErrorMessage(char* buffer, size_t size) const;

    // GetErrorMessage's text.
    const char* what() const noexcept override { return text_; }

    // The system's description of a status code, "\r\n" terminated.
    static const char* SystemText(int32_t code, char* buffer, size_t size);

  private:
    void Compose();

    int32_t code_ = 0;
    char message_[256] = {};
    char text_[256] = {};
};

namespace qel::ccs {

// Throws the exception of a call on an empty wrapper: the class name followed
// by ": COM wrapper object is not valid\r\n", code CCS_E_INVALID_WRAPPER.
[[noreturn]] void ThrowInvalidWrapper(const char* className);

}  // namespace qel::ccs
