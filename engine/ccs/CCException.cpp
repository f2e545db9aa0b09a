#include "CCException.h"

#include <cstdio>
#include <cstring>

namespace {

struct SystemMessage {
    uint32_t code;
    const char* text;
};

// The descriptions the system gives for the status codes the automation layer
// and the bench can return.
constexpr SystemMessage kSystemMessages[] = {
    {0x00000000u, "The operation completed successfully.\r\n"},
    {0x00000001u, "Incorrect function.\r\n"},
    {0x80004001u, "Not implemented\r\n"},
    {0x80004002u, "No such interface supported\r\n"},
    {0x80004003u, "Invalid pointer\r\n"},
    {0x80004004u, "Operation aborted\r\n"},
    {0x80004005u, "Unspecified error\r\n"},
    {0x8000FFFFu, "Catastrophic failure\r\n"},
    {0x80020009u, "Exception occurred.\r\n"},
    {0x8002000Bu, "Invalid index.\r\n"},
    {0x80040154u, "Class not registered\r\n"},
    {0x80040200u, "Invalid connection\r\n"},
    {0x80040202u, "Cannot connect\r\n"},
    {0x800401E3u, "Operation unavailable\r\n"},
    {0x80070005u, "Access is denied.\r\n"},
    {0x80070006u, "The handle is invalid.\r\n"},
    {0x8007000Eu, "Not enough storage is available to complete this operation.\r\n"},
    {0x80070057u, "The parameter is incorrect.\r\n"},
};

void CopyText(char* target, size_t size, const char* text) {
    if (size == 0)
        return;
    size_t n = strnlen(text, size - 1);
    memcpy(target, text, n);
    target[n] = '\0';
}

}  // namespace

CCException::CCException(int32_t code) : code_(code) {
    Compose();
}

CCException::CCException(const char* message) {
    CopyText(message_, sizeof(message_), message ? message : "");
    Compose();
}

CCException::CCException(int32_t code, const char* message) : code_(code) {
    CopyText(message_, sizeof(message_), message ? message : "");
    Compose();
}

CCException::~CCException() = default;

void CCException::Compose() {
    GetErrorMessage(text_, sizeof(text_));
}

bool CCException::GetErrorMessage(char* buffer, size_t size) const {
    if (buffer == nullptr || size == 0)
        return false;
    if (code_ == 0 || (message_[0] != '\0' && code_ >= CCS_E_INVALID_WRAPPER)) {
        CopyText(buffer, size, message_);
    } else {
        SystemText(code_, buffer, size);
    }
    return true;
}

const char* CCException::SystemText(int32_t code, char* buffer, size_t size) {
    const uint32_t key = static_cast<uint32_t>(code);
    for (const SystemMessage& m : kSystemMessages) {
        if (m.code == key) {
            CopyText(buffer, size, m.text);
            return buffer;
        }
    }
    char unknown[64];
    snprintf(unknown, sizeof(unknown), "Unknown error 0x%08X\r\n", key);
    CopyText(buffer, size, unknown);
    return buffer;
}

namespace qel::ccs {

void ThrowInvalidWrapper(const char* className) {
    char text[200];
    snprintf(text, sizeof(text), "%s: COM wrapper object is not valid\r\n",
             className ? className : "");
    throw CCException(CCS_E_INVALID_WRAPPER, text);
}

}  // namespace qel::ccs
