// Connect and TIM type detection: an erased module is not recognised, a
// programmed one is, by the code its init image carries, whether the module
// boots by copying its flash to address 0 or reads it where it is mapped.
#include "EngineBench.h"

#include <gtest/gtest.h>

#include <ostream>

namespace qel::e2e {
namespace {

struct DetectCase {
    const char* name;
    int processor;  // board 0
    const char* tim;
    uint32_t code;
};

// Test descriptions show the case by name.
void PrintTo(const DetectCase& c, std::ostream* out) {
    *out << c.name;
}

// QT-6710B's flash is mapped at 0xB0000000 and not copied to address 0.
const DetectCase kDetectCases[] = {
    {"CodeCopiedToAddress0", 0, "QT-6201", 0x11},
    {"CodeReadAtB0000000", 6, "QT-6710B", 0x31},
};

class DetectionTest : public ::testing::TestWithParam<DetectCase> {};

bool HasNotice(const std::vector<NoticeLog::Notice>& notices, int kind, int a, intptr_t b) {
    for (const auto& n : notices) {
        if (n.kind == kind && n.a == a && n.b == b)
            return true;
    }
    return false;
}

TEST_P(DetectionTest, ErasedModuleIsUnknownProgrammedModuleReportsItsCode) {
    const DetectCase& c = GetParam();
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, c.processor);

    NoticeLog log;
    ASSERT_EQ(EngineBench::Run(flash, log, [&] { return flash->Connect(); }), 0)
        << Describe(flash->GetLastError());
    std::vector<NoticeLog::Notice> notices = log.Take();
    EXPECT_TRUE(HasNotice(notices, 2, 2, 0));
    EXPECT_FALSE(HasNotice(notices, 2, 1, c.code));
    uint32_t state = 0;
    flash->GetDetectState(&state);
    EXPECT_EQ(state, 2u);

    // Without a callback the command blocks and returns its result.
    uint32_t detail = 7;
    ASSERT_EQ(flash->SelectTimType(c.tim, &detail), 0) << Describe(flash->GetLastError());
    EXPECT_EQ(detail, 0u);
    flash->SetBootLoader(nullptr);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    flash->GetDetectState(&state);
    EXPECT_EQ(state, 1u);

    // A new engine on the programmed module: the code comes from the flash.
    bench.Close();
    IFFlash* again = bench.Flash(0, c.processor);
    ASSERT_EQ(EngineBench::Run(again, log, [&] { return again->Connect(); }), 0)
        << Describe(again->GetLastError());
    notices = log.Take();
    EXPECT_TRUE(HasNotice(notices, 2, 1, c.code));
    EXPECT_FALSE(HasNotice(notices, 2, 2, 0));
    again->GetDetectState(&state);
    EXPECT_EQ(state, 1u);
    // Status texts end with the empty one.
    const std::vector<std::string> texts = NoticeLog::Texts(notices);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "");
    EXPECT_TRUE(NoticeLog::HasText(notices, "Detecting TIM type ..."));
}

INSTANTIATE_TEST_SUITE_P(Modules, DetectionTest, ::testing::ValuesIn(kDetectCases), CaseName());

}  // namespace
}  // namespace qel::e2e
