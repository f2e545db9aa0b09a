// The Dynamics page on the real engine: values added and edited through the
// dialog in both display modes, deleted, cleared, committed and read back
// after the tool was closed and started again.
#include "tests/tool/KovraDlgFixture.h"
#include "tool/DlgDynamics.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>

#include <gmock/gmock.h>

namespace {

using ::testing::ElementsAre;

constexpr int kWaitMs = 120000;

class DlgDynamicsTest : public KovraDlgFixture {
  protected:
    void ShowDynamics() { ShowPage(2); }
    QTreeWidget* List() { return Find<QTreeWidget>("listDynamics"); }
    std::vector<std::string> Rows() { return DynamicRows(); }
    void Answer(const QString& address, const QString& value, QStringList* seen = nullptr) {
        AnswerDynamic(address, value, seen);
    }
    void ClickRow(int row) {
        QTreeWidgetItem* item = List()->topLevelItem(row);
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {},
                          List()->visualItemRect(item).center());
    }
};

TEST_F(DlgDynamicsTest, AddEditDeleteClearInBothDisplayModes) {
    ProgramFirstModule();
    Open();
    ShowDynamics();
    EXPECT_TRUE(Rows().empty());

    Answer("0x80000000", "-1");
    Click("buttonAddDynamic");
    Answer("4096", "0x10");
    Click("buttonAddDynamic");
    EXPECT_THAT(Rows(), ElementsAre("0x80000000 0xFFFFFFFF", "0x00001000 0x10"));
    Click("checkHex");
    EXPECT_THAT(Rows(), ElementsAre("0x80000000 -1", "0x00001000 16"));

    // Edit the second: an empty address keeps the old one, "0X.." is decimal.
    ClickRow(1);
    QStringList shown;
    Answer("", "0X20", &shown);
    Click("buttonEditDynamic");
    EXPECT_EQ(shown, QStringList({"0x00001000", "0x00000010"}));
    EXPECT_THAT(Rows(), ElementsAre("0x80000000 -1", "0x00001000 0"));

    // The context menus.
    prompts_.menuChoices.push_back("&Delete");
    QTest::mouseClick(List()->viewport(), Qt::RightButton, {},
                      List()->visualItemRect(List()->topLevelItem(0)).center());
    EXPECT_THAT(Rows(), ElementsAre("0x00001000 0"));
    prompts_.menuChoices.push_back("&Clear all values");
    QTest::mouseClick(List()->viewport(), Qt::RightButton, {},
                      QPoint(5, List()->viewport()->height() - 5));
    EXPECT_TRUE(Rows().empty());
    ASSERT_EQ(prompts_.menus.size(), 2u);
    EXPECT_EQ(prompts_.menus[0], QStringList({"&Edit", "&Delete"}));
    EXPECT_EQ(prompts_.menus[1], QStringList({"&Add dynamic value", "&Clear all values"}));
    EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(DlgDynamicsTest, DeleteBeforeAnyRowWasChosenShowsTheEngineError) {
    ProgramFirstModule();
    Open();
    ShowDynamics();
    Answer("1", "2");
    Click("buttonAddDynamic");
    Click("buttonDeleteDynamic");
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].caption, "Exception");
    EXPECT_THAT(Rows(), ElementsAre("0x00000001 0x2"));
}

TEST_F(DlgDynamicsTest, CommittedValuesAreReadBackAfterARestart) {
    ProgramFirstModule();
    Open();
    ShowDynamics();
    Answer("0x01800000", "0x3300");
    Click("buttonAddDynamic");
    Answer("0x01800008", "32");
    Click("buttonAddDynamic");
    CommitAndWait();
    Click("buttonOk");
    ASSERT_FALSE(dlg_->isVisible());
    // The module has a boot loader but no bitstream.
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].text.rfind("Note that you currently have no FPGA", 0), 0u);
    prompts_.messages.clear();
    dlg_.reset();

    Open();
    ShowDynamics();
    EXPECT_THAT(Rows(), ElementsAre("0x01800000 0x3300", "0x01800008 0x20"));
    EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(DlgDynamicsTest, PageFollowsTheProcessorState) {
    Open();  // nothing programmed: no TIM, no data
    ShowDynamics();
    EXPECT_TRUE(Find<QWidget>("buttonAddDynamic")->isEnabled());
    dlg_->EnableDialogs(false);
    EXPECT_FALSE(Find<QWidget>("buttonAddDynamic")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("checkHex")->isEnabled());
    EXPECT_TRUE(List()->isEnabled());
}

}  // namespace
