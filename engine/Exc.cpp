#include "Exc.h"

#include <cstdio>
#include <cstring>

namespace {

struct Message {
    uint32_t code;
    const char* text;
};

constexpr Message kMessages[] = {
    {1, "No block signature"},
    {2, "Not a valid block"},
    {3, "Could not create block"},
    {4, "Could not find block"},
    {5, "No Halvern boot section found"},
    {6, "Unknown TIM type"},
    {7, "Invalid parameter"},
    {8, "No Tim selected"},
    {9, "Not enough flash space"},
    {10, "No filename"},
    {11, "Could not open the file"},
    {12, "File size not a factor of four"},
    {13, "Could not read file"},
    {14, "Application was build without \\ROM flag"},
    {15, "Application was not build standalone"},
    {16, "File not executable"},
    {17, "Could not allocate section"},
    {18, "Could not find safe place for bootloader"},
    {19, "Could not open obj file"},
    {20, "Index out of range"},
    {21, "Buffer too small"},
    {22, "Wrong processor family"},
    {23, "Wrong processor sub-family"},
    {24, "Board not found"},
    {25, "Processor not found"},
    {26, "Section not found"},
    {27, "This processor does not have access to the flash"},
    {28, "User block verify failed"},
    {29, "Bad hex digit"},
    {30, "Bad hex character"},
    {31, "End of file"},
    {32, "Record start with unexpected characterd"},
    {33, "Bad record length"},
    {34, "Record out of sequence"},
    {35, "Checksum error"},
    {36, "Record size not a factor of four"},
    {37, "Missing record header"},
    {38, "Could not get the data size"},
    {39, "Could not find a suitable .sbf file"},
    {40, "Wrong optional header size for coff file"},
    {41, "Coff optional header not found"},
    {42, "Bootloader path entry not found"},
    {43, "Bitstreams path entry not found"},
    {44, "FProg path entry not found"},
    {45,
     "This Diamond app file format is not supported.\nRebuild your application with V3.0 or above"},
    {0x10001, "Could not load fprog"},
    {0x10002, "Could not load the Flash Data Block (FDB)"},
    {0x10003, "Could not locate Cmdreg"},
    {0x10004, "No symbol (Readfile)"},
    {0x10005, "Could not open readfile"},
    {0x10006, "Could not create temp file"},
    {0x10007, "No transfer buffer"},
    {0x10008, "Could not allocate memory"},
    {0x10009, "CCS operation failed"},
    {0x1000a, "CCS exception occured"},
    {0x1000b, "CCS not started"},
    {0x1000c, "CCS memory access request aborted"},
    {0x1000d, "CCS file load failed"},
    {0x1000e, "CCS DSP reset failed"},
    {0x1000f, "CCS DSP restart failed"},
    {0x10010, "Not a valid init block"},
    {0x10011, "QelTimInfo library exception occured"},
    {0x10012, "Could not initialise QelTimInfo library"},
    {0x10013, "Value not found in TIM file"},
    {0x10020, "Processor in use by another program"},
    {0x10021, "The flash changed since it was read"},
};

// Copies at most size - 1 characters and always terminates.
void CopyText(char* target, size_t size, const char* text) {
    size_t n = text ? strnlen(text, size - 1) : 0;
    memcpy(target, text ? text : "", n);
    memset(target + n, 0, size - n);
}

}  // namespace

CExc::CExc() : CFlashExc{} {}

CExc::CExc(uint32_t excCode, const char* excSource, uint32_t excLine, const char* excDetail)
    : CFlashExc{} {
    code = excCode;
    line = excLine;
    SetSource(excSource);
    SetDetail(excDetail);
}

CExc::~CExc() = default;

const char* CExc::GetMessage() const {
    return MessageOf(code);
}

const char* CExc::MessageOf(uint32_t excCode) {
    for (const Message& m : kMessages) {
        if (m.code == excCode)
            return m.text;
    }
    return "Unknown error";
}

void CExc::SetSource(const char* text) {
    CopyText(source, sizeof(source), text);
}

void CExc::SetDetail(const char* text) {
    CopyText(detail, sizeof(detail), text);
}

void CExc::FormatDetail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(detail, sizeof(detail), format, args);
    va_end(args);
}
