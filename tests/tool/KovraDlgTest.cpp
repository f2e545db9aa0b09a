// The main dialog under QTest on the offscreen platform, against the real
// engine on the default bench: start, automatic TIM selection, Commit with
// its progress, the close checks, a failing command, Help and About, and the
// bindings that fail before the dialog can work.
#include "tests/tool/FakeEngine.h"
#include "tests/tool/KovraDlgFixture.h"

#include "RegEdit.h"
#include "platform/SettingsHive.h"
#include "tool/HelpWindow.h"
#include "tool/KovraPage.h"
#include "tool/Splash.h"

#include <QAction>
#include <QCoreApplication>
#include <QProgressBar>
#include <QTest>

#include <gmock/gmock.h>

#include <algorithm>

namespace {

using ::testing::AnyOf;
using ::testing::Each;
using ::testing::ElementsAre;
using Answer = KovraMessage::Answer;

constexpr int kWaitMs = 120000;
constexpr int kImageReady = static_cast<int>(TreeImage::Ready);
constexpr int kImageModified = static_cast<int>(TreeImage::Modified);
constexpr int kImageNoAccess = static_cast<int>(TreeImage::NoAccess);
constexpr int kImageBusy = static_cast<int>(TreeImage::Busy);

class KovraDlgTest : public KovraDlgFixture {
  protected:
    // A change big enough for a commit of several sectors.
    void AddDataBlock(size_t bytes = 512 * 1024) {
        const UserBlockRecord record = qel::e2e::UserRecord(bench_.WriteData("data.bin", bytes, 3));
        Record(0).flash->AddUserBlock(0x10, &record, 0x42, 1, 0, -1);
        QCoreApplication::sendPostedEvents();
    }
    // The General page greys its controls; Details alone stays usable.
    bool GeneralEnabled() { return Find<QWidget>("comboTimType")->isEnabled(); }
    // Holds the commit's worker at its first progress notice: the commit
    // has begun and cannot end while held.
    void HoldAtFirstProgress() {
        gate_.HoldWhen([](int kind, int, intptr_t) { return kind == 1; });
    }
};

TEST_F(KovraDlgTest, StartSelectsTheDetectedTimOfAProgrammedModule) {
    ProgramFirstModule();
    dlg_ = CreateKovraDlg(prompts_);
    ASSERT_TRUE(dlg_);
    dlg_->show();
    ASSERT_TRUE(dlg_->Initialise());
    EXPECT_TRUE(dlg_->Splash()->isVisible());
    EXPECT_EQ(dlg_->Splash()->Message(), "Please wait while Code Composer starts.");
    EXPECT_FALSE(GeneralEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg_->Splash()->isVisible(); }, kWaitMs));
    WaitUntilAllReady();

    QTreeWidgetItem* root = Tree()->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), "CPUs");
    ASSERT_EQ(root->childCount(), 10);
    EXPECT_EQ(root->child(0)->text(0), "QEL carrier board : CPU_1");
    EXPECT_EQ(root->child(9)->text(0), "QEL carrier board : CPU_8");
    EXPECT_EQ(Tree()->currentItem(), root->child(0));
    EXPECT_EQ(dlg_->Core().Current(), &Record(0));
    {
        const qel::platform::CriticalSectionLock guard(Record(0).lock);
        EXPECT_EQ(Record(0).timCode, 0x11u);
        EXPECT_TRUE(Record(0).dataRead);
        EXPECT_NE(Record(0).bootHeader.version, 0u);
    }
    EXPECT_TRUE(GeneralEnabled());
    EXPECT_TRUE(Find<QWidget>("pageGeneral")->isVisible());
    EXPECT_THAT(TreeImages(), Each(kImageReady));
    EXPECT_FALSE(Find<QPushButton>("buttonCommit")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("animationBusy")->isVisible());
    EXPECT_TRUE(prompts_.messages.empty());

    // The root item selects nothing.
    Tree()->setCurrentItem(root);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(dlg_->Core().Current(), &Record(0));
}

TEST_F(KovraDlgTest, CommitShowsProgressAndEndsComplete) {
    ProgramFirstModule();
    Open();
    AddDataBlock();
    EXPECT_TRUE(Find<QPushButton>("buttonCommit")->isEnabled());
    EXPECT_EQ(TreeImages().at(0), kImageModified);

    std::vector<int> shown;
    QObject::connect(Find<QProgressBar>("progressCommit"), &QProgressBar::valueChanged,
                     [&](int value) { shown.push_back(value); });
    HoldAtFirstProgress();
    Click("buttonCommit");
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate_.Holding() && dlg_->IsBusy(); }, kWaitMs));
    EXPECT_TRUE(Find<QWidget>("animationBusy")->isVisible());
    EXPECT_EQ(TreeImages().at(0), kImageBusy);
    EXPECT_FALSE(GeneralEnabled());
    gate_.Release();

    WaitUntilAllReady();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Text("labelPercentage") == "Complete"; }, kWaitMs));
    EXPECT_EQ(Progress(), 100);
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_EQ(shown.back(), 100);
    EXPECT_THAT(TreeImages(), Each(AnyOf(kImageReady, kImageNoAccess)));
    EXPECT_FALSE(Find<QWidget>("animationBusy")->isVisible());
    EXPECT_FALSE(Find<QPushButton>("buttonCommit")->isEnabled());
    EXPECT_TRUE(GeneralEnabled());
    EXPECT_TRUE(prompts_.messages.empty());
    const qel::platform::CriticalSectionLock guard(Record(0).lock);
    ASSERT_EQ(Record(0).userBlocks.size(), 1u);
    EXPECT_EQ(Record(0).userBlocks[0].header.id, 0x42u);
}

TEST_F(KovraDlgTest, OkWithoutBootLoaderShowsTheNoteOnceAndCloses) {
    Open();
    Click("buttonOk");
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].caption, "Important");
    EXPECT_EQ(prompts_.messages[0].text,
              "Note that you currently have no bootloader programmed.\nThe module will not "
              "function correctly until a valid\nbootloader is programmed");
    EXPECT_EQ(dlg_->result(), QDialog::Accepted);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->Splash()->Message(), "Closing program. Please wait ...");
    EXPECT_TRUE(dlg_->Core().Records().empty());
}

TEST_F(KovraDlgTest, CancelDuringACommitAsksFirst) {
    ProgramFirstModule();
    Open();
    AddDataBlock();
    HoldAtFirstProgress();
    Click("buttonCommit");
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate_.Holding() && dlg_->IsBusy(); }, kWaitMs));

    prompts_.answers.push_back(Answer::No);
    Click("buttonCancel");
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].caption, "Flash data not written");
    EXPECT_EQ(prompts_.messages[0].text, "Do you wish to discard your changes?");
    EXPECT_TRUE(dlg_->isVisible());
    gate_.Release();
    WaitUntilAllReady();

    // Nothing runs: Cancel closes at once.
    Click("buttonCancel");
    EXPECT_EQ(prompts_.messages.size(), 1u);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->result(), QDialog::Rejected);
}

TEST_F(KovraDlgTest, CancelWithUnwrittenChangesClosesWithoutAsking) {
    ProgramFirstModule();
    Open();
    AddDataBlock(4096);
    Click("buttonCancel");
    EXPECT_TRUE(prompts_.messages.empty());
    EXPECT_FALSE(dlg_->isVisible());
}

TEST_F(KovraDlgTest, CloseBoxWithUnwrittenChangesAsks) {
    ProgramFirstModule();
    Open();
    AddDataBlock(4096);
    prompts_.answers = {Answer::No, Answer::Yes};
    dlg_->close();
    EXPECT_TRUE(dlg_->isVisible());
    dlg_->close();
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->result(), QDialog::Rejected);
    EXPECT_THAT(prompts_.Captions(),
                ElementsAre("Flash data not written", "Flash data not written"));
}

TEST_F(KovraDlgTest, FailingCommandShowsTheExceptionAndStaysUsable) {
    ProgramFirstModule();
    Open();
    AddDataBlock(4096);
    bench_.Control()->SetFault(0, 0, qel::bench::Fault::FailLoad, 1000);
    Click("buttonCommit");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts_.messages.empty(); }, kWaitMs));
    WaitUntilAllReady();
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].caption, "Exception");
    EXPECT_EQ(prompts_.messages[0].icon, KovraMessage::Icon::Error);
    EXPECT_TRUE(QString::fromStdString(prompts_.messages[0].text)
                    .startsWith("The following exception occured:\n\n"));

    bench_.Control()->ClearFaults(0, 0);
    EXPECT_TRUE(GeneralEnabled());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Find<QPushButton>("buttonCommit")->isEnabled(); }, kWaitMs));
    Click("buttonCommit");
    WaitUntilAllReady();
    // Written now (how much is left to write after the failure depends on
    // where it failed, so the percentage line is not looked at).
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const qel::platform::CriticalSectionLock guard(Record(0).lock);
            return !Record(0).modified;
        },
        kWaitMs));
    EXPECT_EQ(prompts_.messages.size(), 1u);
    EXPECT_THAT(TreeImages(), Each(AnyOf(kImageReady, kImageNoAccess)));
}

TEST_F(KovraDlgTest, FurtherProcessorsOfATimShowTheNoAccessPage) {
    IFFlash* flash = bench_.Flash(0, 2);  // CPU_3A, first of three on a QT-6403
    bench_.ConnectAndSelect(flash, "QT-6403");
    flash->SetBootLoader(nullptr);
    ASSERT_EQ(flash->Commit(), 0) << qel::e2e::Describe(flash->GetLastError());
    bench_.Close();
    Open();
    const std::vector<int> images = TreeImages();
    ASSERT_EQ(images.size(), 10u);
    EXPECT_THAT(std::vector<int>(images.begin() + 2, images.begin() + 6),
                ElementsAre(kImageReady, kImageNoAccess, kImageNoAccess, kImageReady));

    Tree()->setCurrentItem(Tree()->topLevelItem(0)->child(3));
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(Find<QWidget>("pageNoAccess")->isVisible());
    EXPECT_FALSE(Find<QWidget>("pageGeneral")->isVisible());
    EXPECT_EQ(Text("labelStatus"), "CPU not available");

    Tree()->setCurrentItem(Tree()->topLevelItem(0)->child(2));
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(Find<QWidget>("pageNoAccess")->isVisible());
    EXPECT_TRUE(Find<QWidget>("pageGeneral")->isVisible());
}

TEST_F(KovraDlgTest, HelpOpensTheManualAtTheMainDialog) {
    Open();
    Click("buttonHelp");
    CHelpWindow* help = dlg_->HelpWindow();
    ASSERT_TRUE(help->isVisible());
    EXPECT_TRUE(help->File().endsWith("/help/Kovra.html"));
    EXPECT_THAT(help->Topics().mid(0, 3).join(' ').toStdString(), "main commit general");
    EXPECT_EQ(help->CurrentTopic(), "main");
    auto* previous = help->findChild<QPushButton*>("buttonPreviousTopic");
    auto* next = help->findChild<QPushButton*>("buttonNextTopic");
    EXPECT_FALSE(previous->isEnabled());
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(help->CurrentTopic(), "commit");
    QTest::mouseClick(previous, Qt::LeftButton);
    EXPECT_EQ(help->CurrentTopic(), "main");
    EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(KovraDlgTest, HelpWithoutItsSettingTellsSo) {
    Open();
    struct Case {
        const char* name;
        std::function<void(qel::platform::SettingsKey&)> set;
        bool message;
    };
    const Case cases[] = {
        {"missing", [](auto& key) { key.DeleteValue("Help"); }, true},
        {"not a string", [](auto& key) { key.SetDword("Help", 1); }, true},
        // An empty path still opens the help window.
        {"empty", [](auto& key) { key.SetString("Help", ""); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto key = qel::platform::SettingsKey::Open(qel::platform::Hive::LocalMachine,
                                                    "SOFTWARE\\Halvern\\QEL4410\\Kovra",
                                                    qel::platform::KeyAccess::ReadWrite);
        ASSERT_TRUE(key);
        c.set(*key);
        key.reset();
        dlg_->HelpWindow()->hide();
        prompts_.messages.clear();
        Click("buttonHelp");
        if (c.message) {
            ASSERT_EQ(prompts_.messages.size(), 1u);
            EXPECT_EQ(prompts_.messages[0].text, "Help file not specified. Contact Halvern");
            EXPECT_EQ(prompts_.messages[0].caption, "Error");
            EXPECT_FALSE(dlg_->HelpWindow()->isVisible());
        } else {
            EXPECT_TRUE(prompts_.messages.empty());
            EXPECT_TRUE(dlg_->HelpWindow()->isVisible());
            EXPECT_EQ(dlg_->HelpWindow()->File(), "");
        }
    }
    std::string value;
    EXPECT_EQ(CRegEdit(kKovraSettingsKey, kKovraSettingsApp).GetString("Help", value),
              CRegEdit::Done);
    EXPECT_EQ(value, "");  // the tool never wrote it back
}

TEST_F(KovraDlgTest, F1AndTheHelpMenuOpenTheAboutBox) {
    Open();
    Tree()->setFocus();
    QTest::keyClick(Tree(), Qt::Key_F1);
    EXPECT_EQ(prompts_.aboutBoxes, 1);
    QAction* about = Find<QAction>("actionAbout");
    EXPECT_EQ(about->text(), "&About Kovra...");
    about->trigger();
    EXPECT_EQ(prompts_.aboutBoxes, 2);
}

struct BindingCase {
    const char* name;
    KovraLibraries libraries;
    std::vector<std::string> texts;
};

void PrintTo(const BindingCase& c, std::ostream* os) {
    *os << c.name;
}

class KovraBindingTest : public ::testing::TestWithParam<BindingCase> {};

TEST_P(KovraBindingTest, FailedBindingTellsAndGivesNoDialog) {
    const BindingCase& c = GetParam();
    CScriptedPrompts prompts;
    EXPECT_EQ(CreateKovraDlg(prompts, c.libraries), nullptr);
    std::vector<std::string> texts;
    for (const KovraMessage& m : prompts.messages) {
        texts.push_back(m.text);
        EXPECT_EQ(m.icon, KovraMessage::Icon::Error);
    }
    EXPECT_EQ(texts, c.texts);
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, KovraBindingTest,
    ::testing::Values(BindingCase{"EngineAbsent",
                                  {"libKovraNoSuchEngine.so", "QelTimInfo.dll"},
                                  {"Could not find Telmar.dll"}},
                      BindingCase{"EngineWithoutClose",
                                  {"libkovra_open_only_telmar.so", "QelTimInfo.dll"},
                                  {"Could not locate TelmarClose() function."}},
                      BindingCase{"TimLibraryAbsent",
                                  {"Telmar.dll", "libKovraNoSuchTimInfo.so"},
                                  {"Could not find QelTimInfo.dll"}}),
    kovra_test::CaseName());

TEST(KovraHelpTopics, HeadingsWithAnchorsInOrder) {
    EXPECT_EQ(HelpTopicsOf("<h1>x</h1><h2><a name=\"a\"></a>A</h2><p><a name=\"no\">"
                           "</a></p><H2 class=\"t\"> <a name=\"b\">B</a></H2>"),
              QStringList({"a", "b"}));
    EXPECT_EQ(HelpTopicOfContext(102), "main");
    EXPECT_EQ(HelpTopicOfContext(1), "");
}

}  // namespace
