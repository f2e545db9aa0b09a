// The Advanced page on the real engine: the usage lines, bar and flash map
// of a programmed module, and Erase Flash back to the default chain.
#include "tests/tool/KovraDlgFixture.h"
#include "tool/DlgAdvanced.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QTabBar>
#include <QTest>

namespace {

class DlgAdvancedTest : public KovraDlgFixture {
  protected:
    void ShowAdvanced() {
        Find<QTabBar>("tabPages")->setCurrentIndex(3);
        QCoreApplication::sendPostedEvents();
        ASSERT_TRUE(Find<QWidget>("pageAdvanced")->isVisible());
    }
    CFlashMap* Map() { return Find<CFlashMap>("flashMap"); }
};

TEST_F(DlgAdvancedTest, ShowsTheUsageOfAProgrammedModule) {
    ProgramFirstModule();
    Open();
    ShowAdvanced();
    uint32_t used;
    {
        const qel::platform::CriticalSectionLock guard(Record(0).lock);
        used = Record(0).usedSize;
    }
    ASSERT_GT(used, 0u);
    EXPECT_EQ(Text("labelTotal"), "The flash provides 2.0MB (2097152 bytes)");
    EXPECT_EQ(Text("labelUsed").toStdString(),
              FormatSize(used) + " (" + std::to_string(used) + " bytes) have been used");
    const int percent = static_cast<int>(uint64_t{used} * 100 / 2097152);
    EXPECT_EQ(Text("labelPercentUsed"), QString("%1% of the flash is used").arg(percent));
    EXPECT_EQ(Find<QProgressBar>("barUsage")->value(), percent);

    const std::vector<FlashSegment>& map = Map()->Segments();
    ASSERT_GE(map.size(), 3u);
    EXPECT_EQ(map.front().kind, SegmentKind::System);
    EXPECT_EQ(map.front().offset, 0u);
    EXPECT_EQ(map.back().kind, SegmentKind::Free);
    EXPECT_EQ(map.back().offset + map.back().size, 2097152u);
    EXPECT_EQ(Map()->SegmentAt(Map()->width() - 4), static_cast<int>(map.size()) - 1);
}

TEST_F(DlgAdvancedTest, EraseReturnsToTheDefaultChain) {
    ProgramFirstModule();
    Open();
    const UserBlockRecord record = qel::e2e::UserRecord(bench_.WriteData("d.bin", 4096, 1));
    Record(0).flash->AddUserBlock(0x10, &record, 1, 1, 0, -1);
    Record(0).flash->AddDynamic(0x100, 1);
    QCoreApplication::sendPostedEvents();
    ShowAdvanced();
    const bool hatched = std::any_of(Map()->Segments().begin(), Map()->Segments().end(),
                                     [](const FlashSegment& s) { return s.modified; });
    EXPECT_TRUE(hatched);

    Click("buttonErase");
    EXPECT_TRUE(dlg_->IsBusy());
    WaitUntilAllReady();
    const qel::platform::CriticalSectionLock guard(Record(0).lock);
    EXPECT_TRUE(Record(0).userBlocks.empty());
    EXPECT_TRUE(Record(0).dynamics.empty());
    EXPECT_TRUE(prompts_.messages.empty());  // no chip erase on this TIM: no notice
}

TEST_F(DlgAdvancedTest, EraseOnAProcessorThatIsNotReadyDoesNothing) {
    ProgramFirstModule();
    Open();
    ShowAdvanced();
    {
        const qel::platform::CriticalSectionLock guard(Record(0).lock);
        Record(0).state = CpuState::SelectingTim;
    }
    Find<QPushButton>("buttonErase")->click();  // enabled as it was drawn
    EXPECT_FALSE(dlg_->IsBusy());
    {
        const qel::platform::CriticalSectionLock guard(Record(0).lock);
        EXPECT_EQ(Record(0).state, CpuState::SelectingTim);
        Record(0).state = CpuState::Ready;
    }
}

}  // namespace
