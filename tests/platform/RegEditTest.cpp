#include "RegEdit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "platform/SettingsHive.h"

namespace {

using namespace platform_test;

const std::string kBase = "SOFTWARE\\Halvern\\QEL4410";
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

// Every test gets its own registry folder.
class RegEditTest : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = MakeScratchFolder();
        env_.emplace("QEL4410_REGISTRY", folder_);
    }
    std::string HiveFile() const { return folder_ + "/HKEY_LOCAL_MACHINE.reg"; }

    std::string folder_;
    std::optional<ScopedEnv> env_;
};

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST_F(RegEditTest, ConstructingCreatesTheMissingKey) {
    {
        CRegEdit reg(kBase, "Kovra");
        EXPECT_TRUE(reg.IsWritable());
        EXPECT_EQ(reg.Path(), "SOFTWARE\\Halvern\\QEL4410\\Kovra");
    }
    const std::string text = ReadFile(HiveFile());
    EXPECT_EQ(text.rfind(kHeader, 0), 0u) << text;
    EXPECT_EQ(Count(text, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410\\Kovra]\n"), 1u);
    // Parents exist too, as with the registry.
    EXPECT_EQ(Count(text, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern]\n"), 1u);
}

TEST_F(RegEditTest, RegistryFolderIsCreatedWhenMissing) {
    const std::string nested = folder_ + "/not/yet";
    ScopedEnv env("QEL4410_REGISTRY", nested);
    CRegEdit reg(kBase, "Kovra");
    EXPECT_EQ(reg.SetString("Help", "x"), 0);
    EXPECT_TRUE(Exists(nested + "/HKEY_LOCAL_MACHINE.reg"));
}

// The three applications spell the base key differently and still share it.
TEST_F(RegEditTest, KeyAndValueNamesIgnoreCaseAndKeepFirstSpelling) {
    ASSERT_EQ(CRegEdit(kBase, "Kovra").SetString("Help", "first"), 0);
    ASSERT_EQ(CRegEdit("Software\\Halvern\\QEL4410", "Gorlin").SetString("Path", "g"), 0);
    ASSERT_EQ(CRegEdit("software\\HALVERN\\qel4410", "KOVRA").SetString("HELP", "second"), 0);

    std::string out;
    EXPECT_EQ(CRegEdit("Software\\Halvern\\QEL4410", "kovra").GetString("help", out), 0);
    EXPECT_EQ(out, "second");

    const std::string text = ReadFile(HiveFile());
    EXPECT_EQ(Count(text, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410]\n"), 1u) << text;
    EXPECT_EQ(Count(text, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410\\Kovra]\n"), 1u) << text;
    EXPECT_EQ(Count(text, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410\\Gorlin]\n"), 1u)
        << text;
    EXPECT_EQ(Count(text, "\"Help\"=\"second\"\n"), 1u) << text;
    EXPECT_EQ(Count(text, "\"HELP\""), 0u) << text;
    EXPECT_EQ(Count(text, "Software"), 0u) << text;
}

struct ReadCase {
    const char* name;
    int code;
    const char* text;  // what out holds afterwards
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class RegEditReadTest : public RegEditTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(RegEditReadTest, ResultCodeAndOutput) {
    WriteFile(HiveFile(), kHeader +
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410\\Kovra]\n"
                              "\"Text\"=\"C:\\\\Halvern\\\\Boot\"\n"
                              "\"Empty\"=\"\"\n"
                              "\"Number\"=dword:0000000a\n"
                              "\"Binary\"=hex:01,02\n"
                              "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\n"
                              "\"Wide\"=hex(1):41,00,42,00,00,00,43,00\n"
                              "\"Lenient\"=\"C:\\Halvern\"\n"
                              "@=\"default\"\n");
    const std::string before = ReadFile(HiveFile());
    std::string out = "unchanged";
    EXPECT_EQ(CRegEdit(kBase, "Kovra").GetString(GetParam().name, out), GetParam().code);
    EXPECT_EQ(out, GetParam().text);
    EXPECT_EQ(ReadFile(HiveFile()), before);  // reading writes nothing
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegEditReadTest,
    testing::Values(ReadCase{"Text", 0, "C:\\Halvern\\Boot"},
                    ReadCase{"TEXT", 0, "C:\\Halvern\\Boot"}, ReadCase{"Empty", 0, ""},
                    ReadCase{"Number", 5, "unchanged"}, ReadCase{"Binary", 5, "unchanged"},
                    ReadCase{"Expand", 5, "unchanged"}, ReadCase{"Wide", 0, "AB"},
                    ReadCase{"Lenient", 0, "C:\\Halvern"}, ReadCase{"", 0, "default"},
                    ReadCase{"Missing", 4, "unchanged"}),
    [](const testing::TestParamInfo<ReadCase>& param) {
        return std::string(*param.param.name ? param.param.name : "Default");
    });

struct EscapeCase {
    const char* label;
    std::string value;
    std::string line;  // how the file shows it; empty: not checked
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
    *os << c.label;
}

class RegEditEscapeTest : public RegEditTest, public testing::WithParamInterface<EscapeCase> {};

TEST_P(RegEditEscapeTest, RoundTripThroughTheFile) {
    ASSERT_EQ(CRegEdit(kBase, "Telmar").SetString("Value", GetParam().value), 0);
    std::string out;
    EXPECT_EQ(CRegEdit(kBase, "Telmar").GetString("Value", out), 0);
    EXPECT_EQ(out, GetParam().value);
    if (!GetParam().line.empty()) {
        const std::string text = ReadFile(HiveFile());
        EXPECT_NE(text.find("\n" + GetParam().line + "\n"), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegEditEscapeTest,
    testing::Values(
        EscapeCase{"WindowsPath", "C:\\Halvern\\Boot", "\"Value\"=\"C:\\\\Halvern\\\\Boot\""},
        EscapeCase{"TrailingBackslash", "C:\\", "\"Value\"=\"C:\\\\\""},
        EscapeCase{"Quotes", "say \"hi\"", "\"Value\"=\"say \\\"hi\\\"\""},
        EscapeCase{"Empty", "", "\"Value\"=\"\""},
        EscapeCase{"Newline", "two\nlines",
                   "\"Value\"=hex(1):74,00,77,00,6f,00,0a,00,6c,00,69,00,6e,00,65,00,73,00,00,00"},
        EscapeCase{"Unicode", "/home/j\u00fcrgen/\u20ac", ""}),
    [](const testing::TestParamInfo<EscapeCase>& param) { return param.param.label; });

TEST_F(RegEditTest, NumberSettingOfTheCurrentUser) {
    auto key = qel::platform::SettingsKey::Open(qel::platform::Hive::CurrentUser,
                                                "Software\\Halvern\\Bench",
                                                qel::platform::KeyAccess::ReadWrite);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->GetDisposition(), qel::platform::SettingsKey::kCreatedNewKey);
    EXPECT_EQ(key->SetDword("RealtimeStart", 10), 0);
    EXPECT_EQ(key->SetString("Name", "bench"), 0);
    uint32_t number = 7;
    EXPECT_EQ(key->GetDword("realtimestart", number), 0);
    EXPECT_EQ(number, 10u);
    std::string text = "unchanged";
    EXPECT_EQ(key->GetString("RealtimeStart", text), 5);
    EXPECT_EQ(text, "unchanged");
    number = 7;
    EXPECT_EQ(key->GetDword("Name", number), 5);
    EXPECT_EQ(key->GetDword("Missing", number), 4);
    EXPECT_EQ(number, 7u);

    const std::string file = ReadFile(folder_ + "/HKEY_CURRENT_USER.reg");
    EXPECT_NE(file.find("[HKEY_CURRENT_USER\\Software\\Halvern\\Bench]\n\"RealtimeStart\"="
                        "dword:0000000a\n"),
              std::string::npos)
        << file;
    EXPECT_FALSE(Exists(HiveFile()));  // the other hive is untouched

    auto again = qel::platform::SettingsKey::Open(qel::platform::Hive::CurrentUser,
                                                  "SOFTWARE\\HALVERN\\BENCH",
                                                  qel::platform::KeyAccess::ReadWrite);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->GetDisposition(), qel::platform::SettingsKey::kOpenedExistingKey);
    EXPECT_EQ(again->FullName(), "HKEY_CURRENT_USER\\Software\\Halvern\\Bench");
}

// The debugger's start flag: a one-byte binary value, deleted again later.
TEST_F(RegEditTest, BinaryValueAndDeletion) {
    using qel::platform::SettingsKey;
    auto key = SettingsKey::Open(qel::platform::Hive::CurrentUser,
                                 "Software\\GODSP\\Code Composer\\Settings",
                                 qel::platform::KeyAccess::ReadWrite);
    ASSERT_TRUE(key);
    const uint8_t one = 1;
    ASSERT_EQ(key->SetBinary("RealtimeStart", &one, 1), SettingsKey::kDone);
    ASSERT_EQ(key->SetString("Other", "kept"), SettingsKey::kDone);
    const std::string file = folder_ + "/HKEY_CURRENT_USER.reg";
    EXPECT_NE(ReadFile(file).find("\n\"RealtimeStart\"=hex:01\n"), std::string::npos)
        << ReadFile(file);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(key->GetBinary("realtimestart", bytes), SettingsKey::kDone);
    EXPECT_EQ(bytes, std::vector<uint8_t>{1});
    std::string text;
    EXPECT_EQ(key->GetString("RealtimeStart", text), SettingsKey::kWrongType);
    EXPECT_EQ(key->GetBinary("Other", bytes), SettingsKey::kWrongType);

    EXPECT_EQ(key->DeleteValue("REALTIMESTART"), SettingsKey::kDone);
    EXPECT_EQ(key->DeleteValue("RealtimeStart"), SettingsKey::kNotFound);
    EXPECT_EQ(key->GetBinary("RealtimeStart", bytes), SettingsKey::kNotFound);
    EXPECT_EQ(ReadFile(file).find("RealtimeStart"), std::string::npos);
    EXPECT_EQ(key->GetString("Other", text), SettingsKey::kDone);
    EXPECT_EQ(text, "kept");

    auto reader = SettingsKey::Open(qel::platform::Hive::CurrentUser,
                                    "Software\\GODSP\\Code Composer\\Settings",
                                    qel::platform::KeyAccess::Read);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->DeleteValue("Other"), SettingsKey::kReadOnly);
    EXPECT_EQ(reader->SetBinary("RealtimeStart", &one, 1), SettingsKey::kReadOnly);
}

// Values of types this code does not use, comments and foreign keys all
// survive a rewrite unchanged, in their order.
TEST_F(RegEditTest, RewritingKeepsWhatItDoesNotUnderstand) {
    const std::vector<std::string> lines = {
        "Windows Registry Editor Version 5.00",
        "; kept by the lab administrator",
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410\\Kovra]",
        "@=\"default\"",
        "\"Help\"=\"old\"",
        "; expands %SystemRoot%",
        "\"Expand\"=hex(2):25,00,53,00,25,00,00,00",
        "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00,63,00,64,00,65,00,66,00,67,00,\\",
        "  68,00,00,00,00,00",
        "\"Big\"=HEX(B):01,02,03,04,05,06,07,08",
        "\"Count\"=dword:0000000A",
        "[HKEY_CURRENT_USER\\Software\\Stray]",
        "\"x\"=\"y\"",
    };
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    WriteFile(HiveFile(), text);

    CRegEdit reg(kBase, "Kovra");
    ASSERT_EQ(reg.SetString("Added", "new"), 0);
    ASSERT_EQ(reg.SetString("help", "changed"), 0);

    const std::string after = ReadFile(HiveFile());
    size_t at = 0;
    for (const auto& l : lines) {
        if (l == "\"Help\"=\"old\"")
            continue;
        const size_t found = after.find(l + "\n", at);
        ASSERT_NE(found, std::string::npos) << "lost or moved: " << l << "\n" << after;
        at = found + l.size();
    }
    EXPECT_NE(after.find("\"Help\"=\"changed\"\n"), std::string::npos) << after;
    EXPECT_NE(after.find("\"Added\"=\"new\"\n"), std::string::npos) << after;
}

// A file written on Windows by the registry editor (UTF-16) is read, and
// the first change turns it into this system's UTF-8 file, keeping its values.
TEST_F(RegEditTest, ImportsAnExportedUtf16File) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410\\Telmar]\r\n"
        u"\"BootloaderPath\"=\"D:\\\\Boot\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    WriteFile(HiveFile(), bytes);
    std::string out;
    EXPECT_EQ(CRegEdit(kBase, "Telmar").GetString("BootloaderPath", out), 0);
    EXPECT_EQ(out, "D:\\Boot");
    ASSERT_EQ(CRegEdit(kBase, "Telmar").SetString("FprogPath", "D:\\Fprog"), 0);
    EXPECT_EQ(CRegEdit(kBase, "Telmar").GetString("BootloaderPath", out), 0);
    EXPECT_EQ(out, "D:\\Boot");
    EXPECT_EQ(ReadFile(HiveFile()).rfind(kHeader, 0), 0u);
}

// A hive kept elsewhere behind a link stays there; the link stays a link.
TEST_F(RegEditTest, WritesThroughASymbolicLink) {
    const std::string elsewhere = MakeScratchFolder() + "/shared.reg";
    WriteFile(elsewhere, kHeader);
    std::filesystem::create_symlink(elsewhere, HiveFile());
    ASSERT_EQ(CRegEdit(kBase, "Kovra").SetString("Help", "linked"), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(HiveFile()));
    EXPECT_NE(ReadFile(elsewhere).find("\"Help\"=\"linked\""), std::string::npos);
}

// --- Hives that must not be written -------------------------------------

struct BrokenHive {
    const char* label;
    std::string text;
    int line;
};

void PrintTo(const BrokenHive& c, std::ostream* os) {
    *os << c.label;
}

class RegEditBrokenHiveTest : public RegEditTest, public testing::WithParamInterface<BrokenHive> {};

TEST_P(RegEditBrokenHiveTest, NeverOverwrittenAndReportedOnce) {
    WriteFile(HiveFile(), GetParam().text);
    testing::internal::CaptureStderr();
    {
        CRegEdit reg(kBase, "Kovra");
        EXPECT_FALSE(reg.IsWritable());
        EXPECT_EQ(reg.SetString("Help", "x"), 1);
        std::string out = "unchanged";
        EXPECT_EQ(reg.GetString("Help", out), 4);
        EXPECT_EQ(out, "unchanged");
    }
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find(HiveFile()), std::string::npos) << report;
    EXPECT_NE(report.find("line " + std::to_string(GetParam().line) + ":"), std::string::npos)
        << report;
    EXPECT_EQ(Count(report, "\n"), 1u) << report;
    EXPECT_EQ(ReadFile(HiveFile()), GetParam().text);

    testing::internal::CaptureStderr();
    EXPECT_EQ(CRegEdit(kBase, "Gorlin").SetString("Path", "y"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ReadFile(HiveFile()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegEditBrokenHiveTest,
    testing::Values(BrokenHive{"Garbage", "this is no registry file\n", 1},
                    BrokenHive{"BadLine",
                               kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"a\"=\"b\"\noops\n", 5},
                    BrokenHive{"CutShort",
                               kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410\\Kovra]\n"
                                         "\"Help\"=\"C:\\\\Hel",
                               4}),
    [](const testing::TestParamInfo<BrokenHive>& param) { return param.param.label; });

// The file can break while an object is open (a half-done hand edit): the
// write is refused and the file stays as it is.
TEST_F(RegEditTest, HiveBrokenAfterOpeningIsNotWritten) {
    CRegEdit reg(kBase, "Kovra");
    ASSERT_TRUE(reg.IsWritable());
    const std::string broken = kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\n";
    WriteFile(HiveFile(), broken);
    testing::internal::CaptureStderr();
    EXPECT_EQ(reg.SetString("Help", "x"), 3);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("line 3"), std::string::npos);
    EXPECT_EQ(ReadFile(HiveFile()), broken);
}

// Permission bits do not stop root, so these cases run in a child process
// that has given up root (see RunUnprivileged); as another user the bits
// apply directly.
struct ProtectedCase {
    const char* label;
    int folderMode;
    int fileMode;
};

void PrintTo(const ProtectedCase& c, std::ostream* os) {
    *os << c.label;
}

class RegEditReadOnlyTest : public testing::TestWithParam<ProtectedCase> {
  protected:
    void SetUp() override {
        // Not below the private temporary folder: "nobody" must get in.
        char pattern[] = "/tmp/qel4410-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        chmod(folder_.c_str(), 0755);
        env_.emplace("QEL4410_REGISTRY", folder_);
    }
    void TearDown() override {
        chmod(folder_.c_str(), 0700);
        std::filesystem::remove_all(folder_);
    }
    std::string folder_;
    std::optional<ScopedEnv> env_;
};

TEST_P(RegEditReadOnlyTest, ReadsWorkWritesReturnOne) {
    const std::string file = folder_ + "/HKEY_LOCAL_MACHINE.reg";
    ASSERT_EQ(CRegEdit(kBase, "Kovra").SetString("Help", "kept"), 0);
    ASSERT_EQ(chmod(file.c_str(), GetParam().fileMode), 0);
    ASSERT_EQ(chmod(folder_.c_str(), GetParam().folderMode), 0);
    const std::string before = ReadFile(file);

    const int result = RunUnprivileged([] {
        CRegEdit reg(kBase, "Kovra");
        if (reg.IsWritable())
            return 10;
        std::string out;
        if (reg.GetString("Help", out) != 0 || out != "kept")
            return 11;
        if (reg.SetString("Help", "changed") != 1)
            return 12;
        if (reg.SetString("Other", "new") != 1)
            return 13;
        // A key that does not exist is not created, and reads as missing.
        CRegEdit absent(kBase, "Absent");
        if (absent.IsWritable() || absent.GetString("Help", out) != 4)
            return 14;
        if (absent.SetString("Help", "x") != 1)
            return 15;
        return 0;
    });
    EXPECT_NE(result, 100) << "could not give up root to test permissions";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(file), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, RegEditReadOnlyTest,
                         testing::Values(ProtectedCase{"FolderReadOnly", 0555, 0644},
                                         ProtectedCase{"FileReadOnly", 0777, 0444}),
                         [](const testing::TestParamInfo<ProtectedCase>& param) {
                             return param.param.label;
                         });

// Asking for read access only gives a read-only key whatever the rights.
TEST_F(RegEditTest, KeyOpenedForReadingRefusesWrites) {
    using qel::platform::SettingsKey;
    ASSERT_EQ(CRegEdit(kBase, "Kovra").SetString("Help", "kept"), 0);
    const std::string before = ReadFile(HiveFile());
    EXPECT_EQ(SettingsKey::Open(qel::platform::Hive::LocalMachine, kBase + "\\Absent",
                                qel::platform::KeyAccess::Read),
              nullptr);
    auto key = SettingsKey::Open(qel::platform::Hive::LocalMachine, kBase + "\\kovra",
                                 qel::platform::KeyAccess::Read);
    ASSERT_TRUE(key);
    EXPECT_FALSE(key->IsWritable());
    EXPECT_EQ(key->SetString("Help", "changed"), SettingsKey::kReadOnly);
    EXPECT_EQ(key->SetDword("Count", 1), SettingsKey::kReadOnly);
    std::string out;
    EXPECT_EQ(key->GetString("Help", out), 0);
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(ReadFile(HiveFile()), before);
}

// --- Concurrent writers ---------------------------------------------------

void ExpectAllWritten(const std::vector<std::string>& prefixes, int count) {
    CRegEdit reg(kBase, "Race");
    for (const auto& prefix : prefixes) {
        for (int i = 0; i < count; ++i) {
            std::string out;
            ASSERT_EQ(reg.GetString(prefix + std::to_string(i), out), 0) << prefix << i;
            EXPECT_EQ(out, "value " + std::to_string(i));
        }
    }
}

// Two processes write different values into one hive at the same moment;
// neither loses a value.
TEST_F(RegEditTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kCount = 100;
    int gate[2];
    ASSERT_EQ(pipe2(gate, O_CLOEXEC), 0);  // the writers must not hold the gate open
    std::vector<pid_t> writers;
    for (const char* prefix : {"A", "B"})
        writers.push_back(Spawn({HelperPath(), "hive-writer", prefix, std::to_string(kCount)},
                                gate[0], -1, {"QEL4410_REGISTRY=" + folder_}));
    close(gate[0]);
    close(gate[1]);  // both start now
    for (pid_t pid : writers) EXPECT_EQ(WaitExit(pid), 0);
    ExpectAllWritten({"A", "B"}, kCount);
}

TEST_F(RegEditTest, ThreadsWritingAtOnceLoseNothing) {
    constexpr int kCount = 40;
    const std::vector<std::string> prefixes = {"T", "U", "V", "W"};
    std::vector<std::thread> threads;
    std::vector<int> failures(prefixes.size(), 0);
    for (size_t t = 0; t < prefixes.size(); ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCount; ++i)
                if (CRegEdit(kBase, "Race")
                        .SetString(prefixes[t] + std::to_string(i), "value " + std::to_string(i)) !=
                    0)
                    ++failures[t];
        });
    for (auto& thread : threads) thread.join();
    for (int f : failures) EXPECT_EQ(f, 0);
    ExpectAllWritten(prefixes, kCount);
}

// --- Where the hives live ---------------------------------------------------

struct FolderCase {
    const char* label;
    std::optional<std::string> registry, xdg, home;
    std::string expected;
};

void PrintTo(const FolderCase& c, std::ostream* os) {
    *os << c.label;
}

class RegistryFolderTest : public testing::TestWithParam<FolderCase> {};

TEST_P(RegistryFolderTest, FromTheEnvironment) {
    ScopedEnv registry("QEL4410_REGISTRY", GetParam().registry);
    ScopedEnv xdg("XDG_CONFIG_HOME", GetParam().xdg);
    ScopedEnv home("HOME", GetParam().home);
    EXPECT_EQ(qel::platform::RegistryFolder(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryFolderTest,
    testing::Values(
        FolderCase{"Explicit", "/srv/reg", "/x", "/h", "/srv/reg"},
        FolderCase{"EmptyExplicit", "", "/x", "/h", "/x/qel4410/registry"},
        FolderCase{"Xdg", std::nullopt, "/x", "/h", "/x/qel4410/registry"},
        FolderCase{"RelativeXdgIgnored", std::nullopt, "rel", "/h", "/h/.config/qel4410/registry"},
        FolderCase{"Home", std::nullopt, std::nullopt, "/h", "/h/.config/qel4410/registry"}),
    [](const testing::TestParamInfo<FolderCase>& param) { return param.param.label; });

}  // namespace

namespace {

using qel::platform::Hive;
using qel::platform::HiveWriteProblem;

// Why a hive cannot be written is told with the reason, not just that it
// cannot; a writable one has no problem.
TEST(HiveWriteProblemTest, TellsTheReason) {
    const std::string folder = MakeScratchFolder();
    EXPECT_EQ(HiveWriteProblem(Hive::LocalMachine, folder + "/fresh"), "");
    const std::string file = folder + "/plain-file";
    WriteFile(file, "x");
    EXPECT_EQ(HiveWriteProblem(Hive::LocalMachine, file), file + " is not a folder");
    EXPECT_NE(HiveWriteProblem(Hive::LocalMachine, file + "/below")
                  .find("cannot be made (Not a directory)"),
              std::string::npos)
        << HiveWriteProblem(Hive::LocalMachine, file + "/below");
    const std::string holder = folder + "/holder";
    std::filesystem::create_directories(holder + "/HKEY_CURRENT_USER.reg");
    EXPECT_EQ(HiveWriteProblem(Hive::CurrentUser, holder),
              holder + "/HKEY_CURRENT_USER.reg is not a regular file");
    const std::string broken = folder + "/broken";
    std::filesystem::create_directories(broken);
    WriteFile(broken + "/HKEY_LOCAL_MACHINE.reg", "no hive\n");
    testing::internal::CaptureStderr();
    EXPECT_NE(HiveWriteProblem(Hive::LocalMachine, broken).find("cannot be read or parsed"),
              std::string::npos);
    testing::internal::GetCapturedStderr();
}

// A hive that is not a regular file, or too large, is refused before reading.
TEST(HiveWriteProblemTest, HugeHiveRefusedUnread) {
    const std::string folder = MakeScratchFolder();
    const std::string hive = folder + "/HKEY_LOCAL_MACHINE.reg";
    ASSERT_EQ(truncate(hive.c_str(), 0), -1);  // not there yet
    WriteFile(hive, "");
    ASSERT_EQ(truncate(hive.c_str(), qel::platform::kMaxHiveBytes + 1), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(qel::platform::SettingsKey::Open(Hive::LocalMachine, "SOFTWARE\\X",
                                               qel::platform::KeyAccess::ReadWrite, folder),
              nullptr);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("is larger than 16 MiB"), std::string::npos) << report;
}

}  // namespace
