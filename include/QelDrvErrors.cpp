#include "QelDrvErrors.h"

#include <algorithm>
#include <iterator>

namespace qel::drv {

namespace {

// The texts are the driver's own, spelling included: callers match on them.
constexpr ErrorEntry kTable[] = {
    {0x9, "Could not open the Tessel device"},
    {0x10001, "Could not open the .app file."},
    {0x20001, "The comport write operation was cancelled."},
    {0x20002, "The comport read operation was cancelled."},
    {0x30001, "Could not open the .coff file specified."},
    {0x30002, "Not a valid .coff file format. (Wrong header size)"},
    {0x30003, "Not a valid .coff file format. (No optional header)"},
    {0x30004, "The .coff file is not executable."},
    {0x30005,
     "At least one of the sections specified in the .coff file \ncould not be placed in the DSP "
     "memory space."},
    {0x30007, "Could not re-locate the boot loader."},
    {0x30008, "Unknown TIM type specified."},
    {0x40001, "Invalid mailbox number specified."},
    {0x40002, "A MbWrite operation has been canceled."},
    {0x40003, "A MbRead operation has been canceled."},
    {0x50001, "Could not lock the memory buffer."},
    {0x50002, "Invalid HSC channel number specified."},
    {0x50003, "High Speed Channel is not supported on this carrier board."},
    {0x50004, "The HSC operation was cancelled."},
    {0x50005, "The HSC channel has already been opened."},
    {0x50006, "User defined error value.   See 'nAddition' field."},
    {0x60001, "The root processor is not accessible."},
    {0x60002, "The root processor did not respond."},
    {0x60003, "The root processor is the wrong type."},
    {0x60004, "The actual network didn't match the network specified in the .app file."},
    {0x60005, "Bad header in application file"},
    {0x60006, "Corrupt application file"},
    {0x60007, "Unexpected end of application file"},
    {0x80001, "Error processing QelDrv.dll"},
    {0x80002, "Error processing QelTimInfo.dll"},
    {0x80003, "Error processing QelCfg.dll"},
    {0x80004, "Error processing QelUI.dll"},
    {0x80008, "Error processing QelDevCon.dll"},
    {0xB0002, "Tessel device class not recognised"},
    {0xB0003, "Invalid Tessel device number"},
    {0xB0004, "Tessel operation canceled"},
    {0xB0005, "Buffer not alligned on a 32-bit boundary"},
    {0xB0006, "Failed to lock memory"},
    {0xB0007, "Invalid parameter passed to driver"},
    {0xB0008, "An exception occured in the driver"},
    {0xB000A, "Tessel device class number not recognised"},
    {0xC0001, "Could not open the file for the raw FPGA data"},
    {0xC0002, "Could not get the raw data from the bitstream"},
    {0xC0003, "The buffer is not valid"},
    {0xC0004, "Could not open the file"},
    {0xC0005, "Wrong number of bit"},
    {0xC0006, "Fail to configure the clock register"},
    {0xC0007, "Fail to open the QelDrv library"},
    {0xC0008, "Could not open the interface to the carrier board"},
    {0xC0009, "The burst size is too big. The maximum burst size is 16K/8 = 2048."},
    {0xC000A, "The transmission (comport or VTL) has been timed out."},
    {0xC000B, "The number of bytes is not a multiple of 4."},
    {0xC000C, "The number of bytes is not a multiple of 8."},
    {0xC000D, "The buffer is not alligned on 64-bit."},
    {0xC000E, "Memory lock failed."},
    {0xD0001, "End of file"},
    {0xD0002, "Bad hex digit"},
    {0xD0003, "Bad hex character"},
    {0xD0004, "Cannot open file"},
    {0xD0005, "Cannot allocate buffer"},
    {0xD0006, "Record start with unexpected characterd"},
    {0xD0007, "Checksum error"},
    {0xD0008, "Bad record"},
    {0xD0009, "Invalid buffer"},
    {0xE0001, "No valid control endpoint"},
    {0xE0002, "Invalid buffer"},
    {0xE0003, "Invalid file"},
    {0xE0004, "Read failed"},
    {0xE0005, "Write failed"},
    {0xE0006, "Buffer allocation failed"},
    {0xE0007, "No EEPROM connected"},
    {0xE0008, "No endpoint suitable for transfer"},
    {0xE0009, "Error processing QelDrvUsb.dll"},
    {0xE000A, "The resource file is missing"},
    {0xF0001, "The flash is corrupted"},
    {0xF0002, "Read from flash failed"},
    {0xF0003, "Write to flash failed"},
    {0xF0004, "Error when erasing the flash"},
    {0xF0005, "Error when erasing a sector of the flash"},
    {0xF0006, "undefined pointer"},
    {0xF0007, "Error when reading the file"},
    {0xF0008, "Wrong flahs address"},
    {0xF0009, "Error when programming the flash"},
    {0xF000A, "ID doesn't exist"},
};

}  // namespace

const ErrorEntry* ErrorTable(size_t* count) {
    if (count)
        *count = std::size(kTable);
    return kTable;
}

const char* ErrorText(uint32_t code) {
    const auto* end = std::end(kTable);
    const auto* it = std::lower_bound(std::begin(kTable), end, code,
                                      [](const ErrorEntry& e, uint32_t c) { return e.code < c; });
    return it != end && it->code == code ? it->text : "Unknown error.";
}

}  // namespace qel::drv
