// What was programmed survives the bench, and two processes on one bench
// lose nothing of each other's writes.
#include "TestBench.h"

#include <cstdlib>

namespace benchtest {
namespace {

using Persistence = BenchTest;

TEST_F(Persistence, ANewBenchInstanceSeesWhatWasProgrammed) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    const auto data = Pattern(3 * kSector + 5, 42);
    ASSERT_EQ(Program(c, {{0, 0x2000, data}}), 0u);
    const std::string image = ImagePath(0, 0);
    Reopen();
    EXPECT_EQ(ImagePath(0, 0), image);
    Client& again = Proc(0, 0);
    EXPECT_EQ(again.Read(0x90002000, static_cast<uint32_t>(data.size())), data);
    auto expect = std::vector<uint8_t>(kFlashSize, 0xFF);
    std::copy(data.begin(), data.end(), expect.begin() + 0x2000);
    EXPECT_EQ(ReadFile(image), expect);
}

TEST_F(Persistence, ModulesHaveImagesOfTheirOwn) {
    Client& a = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(a), 0u);
    ASSERT_EQ(Program(a, {{0, 0, {1, 2, 3}}}), 0u);
    EXPECT_NE(ImagePath(0, 0), ImagePath(0, 2));
    EXPECT_EQ(ImagePath(0, 0), ImagePath(0, 1));  // same module
    EXPECT_EQ(Proc(0, 2).Read(0xB0000000, 3), std::vector<uint8_t>(3, 0xFF));
}

TEST_F(Persistence, TwoBenchesInOneProcessShareTheImage) {
    IApplication* other = CreateBench(kTestDescription, dir_.Path() + "/state");
    ASSERT_NE(other, nullptr);
    {
        Client a(app_, 0, 0);
        Client b(other, 0, 0);
        ASSERT_EQ(StartProgrammer(a), 0u);
        ASSERT_EQ(StartProgrammer(b), 0u);
        ASSERT_EQ(Program(a, {{0, 0, std::vector<uint8_t>(100, 1)}}), 0u);
        ASSERT_EQ(Program(b, {{0, 100, std::vector<uint8_t>(100, 2)}}), 0u);
        auto expect = std::vector<uint8_t>(100, 1);
        expect.resize(200, 2);
        EXPECT_EQ(FlashRead(a, 0, 200), expect);
    }
    other->Release();
}

TEST_F(Persistence, TwoProcessesDoNotCorruptAnImage) {
    const std::string description = dir_.WriteText("bench.txt", kTestDescription);
    const std::string state = dir_.Path() + "/state";
    const int rounds = 40;
    const std::string writer = BENCH_WRITER;
    const auto run = [&](int half) {
        return "'" + writer + "' '" + state + "' '" + description + "' " + std::to_string(half) +
               " " + std::to_string(rounds);
    };
    const std::string cmd = run(0) + " & p1=$!; " + run(1) +
                            " & p2=$!; wait $p1; r1=$?; wait $p2; r2=$?; "
                            "[ $r1 -eq 0 ] && [ $r2 -eq 0 ]";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    // Each process rewrote its half of four sectors; the read-modify-write of
    // one never undid the other's.
    const auto image = ReadFile(ImagePath(0, 0));
    ASSERT_EQ(image.size(), kFlashSize);
    for (uint32_t s = 0; s < 4; ++s)
        for (uint32_t i = 0; i < kSector; ++i)
            ASSERT_EQ(image[s * kSector + i], rounds - 1) << "sector " << s << " byte " << i;
    EXPECT_EQ(image[4 * kSector], 0xFF);
}

}  // namespace
}  // namespace benchtest
