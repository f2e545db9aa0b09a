#include "converter/Quillon.h"

#include "QELExc.h"
#include "QelDrvErrors.h"
#include "QelTimInfoLoad.h"
#include "converter/ObjectFile.h"
#include "converter/QelDrvLoad.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>

namespace qel::quillon {

namespace {

// The converter's own version, older than the system's.
constexpr const char* kToolVersion = "2.03";

struct Options {
    std::string timType;
    bool newFormat = false;
    bool download = false;
    int board = 0;
    bool list = false;
};

// "\X..." with X the letter in either case; the value follows the letter.
bool IsOption(const std::string& arg, char letter) {
    return arg.size() >= 2 && arg[0] == '\\' &&
           std::toupper(static_cast<unsigned char>(arg[1])) == letter;
}

// A decimal number as the C library reads one: leading blanks, a sign,
// digits up to the first other character. No digits: `number` stays.
void ReadBoardNumber(const std::string& text, int& number) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    bool digits = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        digits = true;
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{INT32_MAX} + 1);
    }
    if (digits)
        number =
            static_cast<int>(std::clamp<int64_t>(negative ? -value : value, INT32_MIN, INT32_MAX));
}

void PrintError(std::FILE* out, uint32_t code, const char* message) {
    std::fprintf(out, "An error occured: 0x%X\n%s\n", code, message);
}

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Program use: Quillon [Source] [Output] \\T[TIMType] [\\N]\n"
        "For example: Quillon file.out output.bin \\TQEL120 \\N\n"
        "where: \n"
        "       \\N - Target used with new format boot loader\n"
        " and:  TIMType is one of the valid TIM types:\n"
        " For a complete list of TIM types:   use 'Quillon \\L'\n"
        " To download the file to the DSP via the host comport use \\D[boardno]\n",
        out);
}

// The names whose "TimType" has its low two bits equal to 1.
int ListTimTypes(CQelTimInfoLoad& timInfo, std::FILE* out) {
    std::fputs("The following TIM types are valid\n", out);
    CQelTimInfo* database = timInfo.QelTimInfoOpen(0);
    if (!database) {
        PrintError(out, drv::kErrTimInfoLibrary, "Could not open QelTimInfo library");
        return kExitFailed;
    }
    int result = kExitOk;
    try {
        for (uint32_t i = 0; i < database->Count(); ++i) {
            const CQelTimRecord* record = database->At(i);
            if (record && (record->GetInt("TimType", 0) & 3) == 1)
                std::fprintf(out, "%s\n", record->Name());
        }
    } catch (const TimExc& e) {
        PrintError(out, drv::kErrTimInfoLibrary, e.Text());
        result = kExitFailed;
    }
    timInfo.QelTimInfoClose(database);
    return result;
}

// Sends the image to the board. Every failure is told and ends the run with
// kExitNotDownloaded; the driver and the board are given back on every path.
int Download(CQelDrvLoad& driver, const std::string& path, int boardNumber, std::FILE* out) {
    std::fputs("Downloading the file to the DSP ....\n", out);
    const uint32_t opened = driver.QelOpen();
    if (opened != 0) {
        std::fprintf(out, "Could not open QelDrv library. Error = (%s)\n",
                     driver.QelGetError(opened));
        return kExitNotDownloaded;
    }
    int result = kExitNotDownloaded;
    if (driver.QelGetBoardCount() == 0) {
        std::fputs("No Halvern carrier pboards found\n", out);
    } else if (CQelBoard* board = driver.QelOpenBoard(static_cast<uint32_t>(boardNumber)); !board) {
        std::fputs("Could not open the carrier board\n", out);
    } else {
        std::fputs("Reset TIM.\n", out);
        uint32_t error = board->ResetTim();
        if (error == 0) {
            std::fputs("Downloading DSP application.\n", out);
            std::fflush(out);
            error = board->Download(path.c_str(), 0);
        }
        if (error != 0) {
            std::fprintf(out, "Could not download the file to the DSP. Error = (%s)\n",
                         driver.QelGetError(error));
        } else {
            result = kExitOk;
        }
        driver.QelCloseBoard(board);
    }
    driver.QelClose();
    return result;
}

// Reads the source, writes the image. Conversion errors are thrown.
int Convert(const std::vector<std::string>& args, const Options& options, std::FILE* out) {
    const CObjectFile object(args[1].c_str());
    std::FILE* image = std::fopen(args[2].c_str(), "wb");
    if (!image) {
        std::fputs("Could not create the destination file\n", out);
        return kExitFailed;
    }
    bool written = false;
    try {
        written = options.newFormat ? object.WriteNewFormat(options.timType.c_str(), image)
                                    : object.WriteOldFormat(options.timType.c_str(), image);
    } catch (...) {
        std::fclose(image);
        throw;
    }
    if (std::fclose(image) != 0)
        written = false;
    if (!written) {
        std::fputs("Could not write the destination file\n", out);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::FILE* out) {
    // Needs neither outside library, so it answers on a system without them.
    if (args.size() == 2 && (args[1] == "--version" || args[1] == "-V")) {
        std::fprintf(out, "Quillon %s (QEL4410 %s)\n", kToolVersion, QEL_VERSION);
        return kExitOk;
    }
    // Both outside libraries, bound before anything is printed.
    std::unique_ptr<CQelDrvLoad> driver;
    std::unique_ptr<CQelTimInfoLoad> timInfo;
    try {
        driver = std::make_unique<CQelDrvLoad>();
        timInfo = std::make_unique<CQelTimInfoLoad>();
    } catch (const QELExc& e) {
        PrintError(out, e.code, e.message);
        return kExitFailed;
    }

    std::fprintf(out,
                 "Quillon - QEL4410 comport image converter\n"
                 "Utility to convert a coff file to a comport data file. (Ver %s)\n",
                 kToolVersion);

    Options options;
    for (const std::string& arg : args) {
        if (IsOption(arg, 'T')) {
            options.timType = arg.substr(2);
        } else if (IsOption(arg, 'N')) {
            options.newFormat = true;
        } else if (IsOption(arg, 'L')) {
            return ListTimTypes(*timInfo, out);
        } else if (IsOption(arg, 'D')) {
            options.download = true;
            ReadBoardNumber(arg.substr(2), options.board);
        }
    }
    if (args.size() < 4) {
        PrintUsage(out);
        return kExitOk;
    }
    if (options.timType.empty()) {
        std::fputs("Error:  No TIM type specified\n", out);
        return kExitFailed;
    }
    std::fputs(
        options.newFormat ? "File Format: New bootloader\n" : "File Format: Old bootloader\n", out);

    try {
        const int converted = Convert(args, options, out);
        if (converted != kExitOk)
            return converted;
    } catch (const QELExc& e) {
        PrintError(out, e.code, e.message);
        return kExitFailed;
    } catch (const TimExc& e) {
        PrintError(out, drv::kErrTimInfoLibrary, e.Text());
        return kExitFailed;
    }

    if (options.download) {
        const int downloaded = Download(*driver, args[2], options.board, out);
        if (downloaded != kExitOk)
            return downloaded;
    }
    std::fputs("Success\n\n", out);
    return kExitOk;
}

}  // namespace qel::quillon
