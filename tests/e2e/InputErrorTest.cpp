// Files the engine cannot take: each error names the file and says why,
// before anything is read from a file that could block or never end.
#include "EngineBench.h"

#include "engine/Exc.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <string>

namespace qel::e2e {
namespace {

struct InputCase {
    const char* name;
    // Makes the input in the test's folder and gives its path.
    std::function<std::string(const EngineBench&)> make;
    std::function<void(IFFlash*, const std::string&)> use;
    uint32_t code;
    std::vector<std::string> detail;  // parts the detail holds; "$" is the path
};

void PrintTo(const InputCase& c, std::ostream* out) {
    *out << c.name;
}

std::string Fifo(const EngineBench& bench) {
    const std::string path = bench.Temp().File("pipe.bit");
    mkfifo(path.c_str(), 0600);
    return path;
}

std::string Text(const EngineBench& bench, const std::string& name, const std::string& text) {
    const std::string path = bench.Temp().File(name);
    std::ofstream(path) << text;
    return path;
}

void AddData(IFFlash* flash, const std::string& path) {
    const UserBlockRecord record = UserRecord(path);
    flash->AddUserBlock(0x10, &record, 1, 1, 0, -1);
}

void AddSRecord(IFFlash* flash, const std::string& path) {
    const UserBlockRecord record = UserRecord(path);
    flash->AddUserBlock(0x11, &record, 1, 1, 0, -1);
}

const InputCase kInputCases[] = {
    {"MissingDataFile",
     [](const EngineBench& b) { return b.Temp().File("missing.bin"); },
     AddData,
     ERR_CANNOT_OPEN_FILE,
     {"$", "No such file or directory"}},
    {"FolderAsDataFile",
     [](const EngineBench& b) { return b.Temp().Path(); },
     AddData,
     ERR_CANNOT_OPEN_FILE,
     {"$", "not a regular file"}},
    {"DeviceAsBitstream",
     [](const EngineBench&) { return std::string("/dev/zero"); },
     [](IFFlash* f, const std::string& p) { f->SetBitstream(p.c_str()); },
     ERR_CANNOT_OPEN_FILE,
     {"$", "not a regular file"}},
    {"PipeAsBitstream",
     Fifo,
     [](IFFlash* f, const std::string& p) { f->SetBitstream(p.c_str()); },
     ERR_CANNOT_OPEN_FILE,
     {"$", "not a regular file"}},
    // The third line has a character no S-record holds.
    {"SRecordWithBadCharacter",
     [](const EngineBench& b) {
         return Text(b, "bad.s",
                     "S00600004844521B\nS1130000000102030405060708090A0B0C0D0E0F74\nS1#3\n\n\n\n");
     },
     AddSRecord,
     ERR_BAD_HEX_CHARACTER,
     {"$", "line 3"}},
    {"DataLargerThanTheFlash",
     [](const EngineBench& b) { return b.WriteData("big.bin", 3 << 20, 1); },
     AddData,
     ERR_NOT_ENOUGH_SPACE,
     {"needs", "free", "2097152"}},
};

class InputErrorTest : public ::testing::TestWithParam<InputCase> {};

TEST_P(InputErrorTest, ErrorNamesTheFileAndTheReason) {
    const InputCase& c = GetParam();
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    const std::string path = c.make(bench);
    try {
        c.use(flash, path);
        FAIL() << "no error";
    } catch (const CFlashExc& e) {
        EXPECT_EQ(e.code, c.code) << e.detail;
        for (std::string part : c.detail) {
            if (part == "$")
                part = path;
            EXPECT_NE(std::string(e.detail).find(part), std::string::npos)
                << "'" << part << "' not in '" << e.detail << "'";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, InputErrorTest, ::testing::ValuesIn(kInputCases), CaseName());

// A power cut while writing: the error says that the flash may hold part of
// the commit.
TEST(PowerCutMessageTest, FailedWriteSaysTheFlashMayBeInconsistent) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    AddData(flash, bench.WriteData("d.bin", 200000, 4));
    bench.Control()->SetFault(0, 0, qel::bench::Fault::PowerCut, 1);
    ASSERT_EQ(flash->Commit(), 2);
    EXPECT_NE(std::string(flash->GetLastError()->detail).find("the flash may hold part of it"),
              std::string::npos)
        << Describe(flash->GetLastError());
}

}  // namespace
}  // namespace qel::e2e
