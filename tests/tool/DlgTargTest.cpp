// The General page on the real engine: the TIM type list, the standard boot
// loader and bitstream with the "Searching ..." window, Browse with its
// remembered start folders, a bitstream made for another TIM, Details, the
// status icons before and after a commit, engine errors and the page greyed
// while the processor is busy.
#include "RegEdit.h"
#include "tests/tool/KovraDlgFixture.h"
#include "tool/DlgTarg.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <QThread>

#include <gmock/gmock.h>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr int kWaitMs = 120000;

// Whether a window showed and hid, and what the engine's FPGA block held
// at both moments.
class ShowWatch : public QObject {
  public:
    explicit ShowWatch(IFFlash* flash) : flash_(flash) {}
    int shown = 0;
    int hidden = 0;
    uint32_t versionWhenShown = ~0u;
    uint32_t versionWhenHidden = ~0u;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            ++shown;
            versionWhenShown = FpgaVersion();
        } else if (event->type() == QEvent::Hide) {
            ++hidden;
            versionWhenHidden = FpgaVersion();
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    uint32_t FpgaVersion() {
        BlockHeader header{};
        std::vector<uint8_t> record(FPGA_RECORD_SIZE);
        flash_->GetFpgaBlock(&header, record.data());
        return header.version;
    }
    IFFlash* flash_;
};

class DlgTargTest : public KovraDlgFixture {
  protected:
    QComboBox* Combo() { return Find<QComboBox>("comboTimType"); }
    QStringList Entries() {
        QStringList entries;
        for (int i = 0; i < Combo()->count(); ++i) entries << Combo()->itemText(i);
        return entries;
    }
    void Choose(const QString& text) { ChooseTimType(text); }
    std::string BootText() {
        QCoreApplication::sendPostedEvents();
        return Find<QPlainTextEdit>("editBootloader")->toPlainText().toStdString();
    }
    std::string FpgaText() {
        QCoreApplication::sendPostedEvents();
        return Find<QPlainTextEdit>("editBitstream")->toPlainText().toStdString();
    }
    // -1 while hidden, else its state.
    int Icon(const char* name) {
        QCoreApplication::sendPostedEvents();
        auto* icon = Find<CStatusIcon>(name);
        return icon->isVisible() ? icon->State() : -1;
    }
    std::string Setting(const char* name) {
        std::string value;
        if (CRegEdit(kKovraSettingsKey, kKovraSettingsApp).GetString(name, value) != CRegEdit::Done)
            return "(missing)";
        return value;
    }
    std::string EngineFolder(bool bitstreams) {
        char folder[1024] = {};
        uint32_t size = sizeof folder;
        if (bitstreams)
            Record(0).flash->GetBitstreamPath(folder, &size);
        else
            Record(0).flash->GetBootloaderPath(folder, &size);
        return folder;
    }
    std::vector<QWidget*> Controls() {
        return {Combo(), Find<QWidget>("buttonBootloaderStandard"),
                Find<QWidget>("buttonBootloaderBrowse"), Find<QWidget>("buttonBitstreamStandard"),
                Find<QWidget>("buttonBitstreamBrowse")};
    }
};

TEST_F(DlgTargTest, TimTypeStandardFilesAndTheIconsAroundACommit) {
    Open();  // nothing programmed: no TIM type detected
    ASSERT_TRUE(Find<QWidget>("pageGeneral")->isVisible());
    EXPECT_EQ(Entries(), QStringList({"No TIM type selected", "QT-6201", "QT-6202C", "QT-6300N",
                                      "QT-6403", "QT-6415W", "QT-6710B"}));
    EXPECT_EQ(Combo()->currentText(), "No TIM type selected");

    Choose("QT-6201");
    EXPECT_EQ(StateOf(0), CpuState::SelectingTim);
    WaitUntilAllReady();
    EXPECT_EQ(Combo()->currentText(), "QT-6201");
    EXPECT_EQ(BootText(), "");
    EXPECT_EQ(Icon("iconBootloader"), -1);
    EXPECT_EQ(FpgaText(), "");
    EXPECT_EQ(Icon("iconBitstream"), -1);

    Click("buttonBootloaderStandard");
    EXPECT_THAT(BootText(), StartsWith("Version "));
    EXPECT_THAT(BootText(), Not(HasSubstr("programmed")));
    EXPECT_EQ(Icon("iconBootloader"), 1);

    auto* searching = Find<QWidget>("dialogSearching");
    ShowWatch watch(Record(0).flash);
    searching->installEventFilter(&watch);
    Click("buttonBitstreamStandard");
    searching->removeEventFilter(&watch);
    EXPECT_EQ(watch.shown, 1);
    EXPECT_EQ(watch.hidden, 1);
    EXPECT_EQ(watch.versionWhenShown, 0u);   // up before the search
    EXPECT_NE(watch.versionWhenHidden, 0u);  // and until the bitstream was taken
    EXPECT_FALSE(searching->isVisible());
    const std::string best = bench_.Firmware("bitstreams", "qt6201_32_v2p0.sbf");
    EXPECT_THAT(FpgaText(), StartsWith("Version 2.00\n" + best + "\n"));
    EXPECT_EQ(Icon("iconBitstream"), 1);
    EXPECT_TRUE(prompts_.messages.empty());

    CommitAndWait();
    EXPECT_EQ(Icon("iconBootloader"), 0);
    EXPECT_EQ(Icon("iconBitstream"), 0);
    EXPECT_THAT(BootText(), HasSubstr(") programmed on "));
    EXPECT_THAT(FpgaText(), HasSubstr(best + "\nProgrammed on "));
    EXPECT_TRUE(prompts_.messages.empty());

    // Another processor, not read yet: empty boxes, no icons, no type.
    Tree()->setCurrentItem(Tree()->topLevelItem(0)->child(1));
    EXPECT_EQ(BootText(), "");
    EXPECT_EQ(FpgaText(), "");
    EXPECT_EQ(Icon("iconBootloader"), -1);
    EXPECT_EQ(Icon("iconBitstream"), -1);
    EXPECT_EQ(Combo()->currentText(), "No TIM type selected");
    Tree()->setCurrentItem(Tree()->topLevelItem(0)->child(0));
    EXPECT_EQ(Icon("iconBootloader"), 0);
    EXPECT_EQ(Combo()->currentText(), "QT-6201");
}

TEST_F(DlgTargTest, BrowseStartsWhereTheLastChoiceWas) {
    ProgramFirstModule();  // boot loader, no bitstream
    Open();
    EXPECT_EQ(Icon("iconBootloader"), 0);
    EXPECT_EQ(Setting("PathBrowseBootloader"), "(missing)");
    EXPECT_EQ(Setting("PathBrowseFpga"), "(missing)");
    const std::string loader = bench_.Firmware("bootloaders", "bl_qt6201.out");
    const std::string first = bench_.Firmware("bitstreams", "qt6201_v1p0.sbf");

    prompts_.files = {QString::fromStdString(loader), QString()};
    Click("buttonBootloaderBrowse");
    EXPECT_EQ(Setting("PathBrowseBootloader"), loader);
    EXPECT_EQ(Icon("iconBootloader"), 1);
    Click("buttonBootloaderBrowse");  // cancelled
    ASSERT_EQ(prompts_.queries.size(), 2u);
    const IKovraPrompts::FileQuery& boot = prompts_.queries[0];
    EXPECT_EQ(boot.title, "Select file");
    EXPECT_EQ(boot.folder.toStdString(), EngineFolder(false));
    EXPECT_EQ(boot.fileName, "");
    EXPECT_EQ(boot.defaultSuffix, "out");
    ASSERT_EQ(boot.filters.size(), 1);
    EXPECT_EQ(boot.filters[0].description, "Bootloader (*.out)");
    EXPECT_EQ(boot.filters[0].patterns, QStringList({"*.out"}));
    EXPECT_EQ(prompts_.queries[1].folder.toStdString(), loader);
    EXPECT_EQ(Setting("PathBrowseBootloader"), loader);

    // No bitstream yet: the engine's folder, kept before the dialog opens.
    prompts_.files = {QString()};
    Click("buttonBitstreamBrowse");
    EXPECT_EQ(Setting("PathBrowseFpga"), EngineFolder(true));
    prompts_.files = {QString::fromStdString(first), QString()};
    Click("buttonBitstreamBrowse");
    EXPECT_EQ(Setting("PathBrowseFpga"), first);
    EXPECT_EQ(FpgaText(), "Version 1.00\n" + first + "\nNotes: QT-6201 first release");
    Click("buttonBitstreamBrowse");
    ASSERT_EQ(prompts_.queries.size(), 5u);
    const IKovraPrompts::FileQuery& fpga = prompts_.queries[2];
    EXPECT_EQ(fpga.folder.toStdString(), EngineFolder(true));
    EXPECT_EQ(fpga.fileName, "");
    EXPECT_EQ(fpga.defaultSuffix, "sbf");
    ASSERT_EQ(fpga.filters.size(), 2);
    EXPECT_EQ(fpga.filters[0].description, "Bitstream (*.bit, *.dat, *.sbf)");
    EXPECT_EQ(fpga.filters[0].patterns, QStringList({"*.bit", "*.dat", "*.sbf"}));
    EXPECT_EQ(fpga.filters[1].description, "All files (*.*)");
    EXPECT_EQ(prompts_.queries[3].folder.toStdString(), EngineFolder(true));
    // The last choice: its full path, and the block's file as the name.
    EXPECT_EQ(prompts_.queries[4].folder.toStdString(), first);
    EXPECT_EQ(prompts_.queries[4].fileName.toStdString(), first);
    EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(DlgTargTest, BitstreamForAnotherTimIsTakenOnlyWhenConfirmed) {
    ProgramFirstModule();
    Open();
    const std::string other = bench_.Firmware("bitstreams", "qt6300n_v1p0.sbf");
    prompts_.files = {QString::fromStdString(other), QString::fromStdString(other)};
    prompts_.answers = {KovraMessage::Answer::No, KovraMessage::Answer::Yes};

    Click("buttonBitstreamBrowse");
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].caption, "Warning");
    EXPECT_EQ(prompts_.messages[0].text,
              other +
                  "\nhas not been designed for the TIM you selected.\n\nAre you sure you want to "
                  "continue?");
    EXPECT_EQ(prompts_.messages[0].buttons, KovraMessage::Buttons::YesNo);
    EXPECT_EQ(prompts_.messages[0].defaultAnswer, KovraMessage::Answer::No);
    EXPECT_EQ(FpgaText(), "");
    EXPECT_EQ(Icon("iconBitstream"), -1);

    Click("buttonBitstreamBrowse");
    ASSERT_EQ(prompts_.messages.size(), 2u);
    EXPECT_THAT(FpgaText(), StartsWith("Version 1.00\n" + other + "\n"));
    EXPECT_EQ(Icon("iconBitstream"), 1);
}

TEST_F(DlgTargTest, AnotherTimTypeRefusedShowsTheModulesTypeAgain) {
    ProgramFirstModule();
    Open();
    const std::string before = BootText();
    ASSERT_THAT(before, StartsWith("Version "));
    Choose("QT-6403");  // the question is answered with its default, No
    WaitUntilAllReady();
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].caption, "Changing TIM type");
    EXPECT_EQ(Combo()->currentText(), "QT-6201");
    EXPECT_EQ(BootText(), before);
}

TEST_F(DlgTargTest, PickingTheSelectedTypeAgainKeepsTheChangesNotYetWritten) {
    ProgramFirstModule();
    Open();
    Record(0).flash->AddDynamic(0x100, 1);
    QCoreApplication::sendPostedEvents();
    Choose("QT-6201");
    EXPECT_EQ(StateOf(0), CpuState::Ready);
    WaitUntilAllReady();
    uint32_t values = 0;
    Record(0).flash->GetDynamicCount(&values);
    EXPECT_EQ(values, 1u);
    EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(DlgTargTest, DetailsShowTheDescriptionOfTheModulesTimType) {
    Open();
    Click("buttonDetails");  // no TIM type known: nothing to show
    EXPECT_TRUE(prompts_.messages.empty());

    Choose("QT-6201");
    WaitUntilAllReady();
    QStringList shown;
    prompts_.dialogs.push_back([&](QDialog& dialog) {
        shown << dialog.windowTitle() << dialog.findChild<QLabel*>("labelTimName")->text()
              << dialog.findChild<QLabel*>("labelTimComment")->text();
        dialog.accept();
        return dialog.result();
    });
    dlg_->EnableDialogs(false);  // Details alone stays usable
    EXPECT_TRUE(Find<QWidget>("buttonDetails")->isEnabled());
    Click("buttonDetails");
    EXPECT_EQ(shown, QStringList({"TIM details", "QT-6201",
                                  "Single-processor TIM with 2 MiB of flash and 16 MiB of SDRAM"}));
    EXPECT_TRUE(prompts_.dialogs.empty());
    dlg_->EnableDialogs(true);
}

TEST_F(DlgTargTest, EngineErrorsGoToTheExceptionBox) {
    Open();  // no TIM type selected: the engine has nothing to search for
    Click("buttonBitstreamStandard");
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].caption, "Exception");
    EXPECT_FALSE(Find<QWidget>("dialogSearching")->isVisible());

    Choose("QT-6201");
    WaitUntilAllReady();
    Click("buttonBootloaderStandard");
    const std::string before = BootText();
    ASSERT_THAT(before, StartsWith("Version "));
    prompts_.files = {QString::fromStdString(bench_.WriteData("broken.out", 512, 3))};
    Click("buttonBootloaderBrowse");
    ASSERT_EQ(prompts_.messages.size(), 2u);
    EXPECT_EQ(prompts_.messages[1].caption, "Exception");
    EXPECT_THAT(prompts_.messages[1].text, StartsWith("The following exception occured:\n\n"));
    EXPECT_EQ(BootText(), before);
    EXPECT_EQ(Icon("iconBootloader"), 1);
}

TEST_F(DlgTargTest, GreyedWhileTheTimTypeIsSelectedAndNoneSelectedDoesNothing) {
    ProgramFirstModule();
    Open();
    EXPECT_EQ(Combo()->currentText(), "QT-6201");
    Choose("No TIM type selected");
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(StateOf(0), CpuState::Ready);
    EXPECT_FALSE(dlg_->IsBusy());
    EXPECT_TRUE(prompts_.messages.empty());
    for (QWidget* control : Controls()) EXPECT_TRUE(control->isEnabled());

    // Held on the engine's worker part-way through the selection of
    // another type, which the user confirms.
    QThread* ui = QThread::currentThread();
    gate_.HoldWhen([ui](int, int, intptr_t) { return QThread::currentThread() != ui; });
    prompts_.answers.push_back(KovraMessage::Answer::Yes);
    Choose("QT-6202C");
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate_.Holding(); }, kWaitMs));
    QCoreApplication::sendPostedEvents();
    for (QWidget* control : Controls())
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    EXPECT_TRUE(Find<QWidget>("buttonDetails")->isEnabled());
    gate_.Release();
    WaitUntilAllReady();
    for (QWidget* control : Controls()) EXPECT_TRUE(control->isEnabled());
    EXPECT_EQ(Combo()->currentText(), "QT-6202C");
    EXPECT_EQ(prompts_.Captions(), std::vector<std::string>({"Changing TIM type"}));
}

}  // namespace
