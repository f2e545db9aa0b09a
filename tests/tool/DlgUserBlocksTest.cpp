// The User blocks page on the real engine: blocks added through the add
// dialog and by dropping files, edited, moved by dragging, made bootable,
// verified, updated and deleted; committed and read back after the tool was
// closed and started again.
#include "tests/tool/KovraDlgFixture.h"
#include "tool/DlgUserBlocks.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTest>
#include <QUrl>

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

namespace {

using ::testing::ElementsAre;

constexpr int kWaitMs = 120000;

// What the add dialog's panel is given besides the file.
struct AddPanel {
    QString id;
    QString major;
    QString minor;
    bool bootable = false;
    bool bigEndian = false;
};

class DlgUserBlocksTest : public KovraDlgFixture {
  protected:
    void ShowUserBlocks() { ShowPage(1); }
    QTreeWidget* List() { return Find<QTreeWidget>("listUserBlocks"); }
    // "Type Id Index Bytes Ver file Endian", the file without its folder,
    // and "boot" for the flagged block.
    std::vector<std::string> Rows() {
        QCoreApplication::sendPostedEvents();
        std::vector<std::string> rows;
        for (int i = 0; i < List()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = List()->topLevelItem(i);
            QStringList columns;
            for (int c : {0, 1, 2, 3, 4}) columns << item->text(c);
            columns << QFileInfo(item->text(6)).fileName() << item->text(7);
            rows.push_back(columns.join(' ').toStdString());
        }
        return rows;
    }
    std::vector<bool> BootFlags() {
        QCoreApplication::sendPostedEvents();
        std::vector<bool> flags;
        CpuRecord& record = Record(0);
        const qel::platform::CriticalSectionLock guard(record.lock);
        for (const UserBlockEntry& entry : record.userBlocks)
            flags.push_back(entry.record.bootable != 0);
        return flags;
    }
    // The add dialog, filled as a user does: the file chosen first (its
    // extension picks the type), then the panel. `type` gets the type it
    // guessed, `folder` the folder it started in.
    void AnswerAdd(const std::string& file, const AddPanel& panel, QString* type = nullptr,
                   QString* folder = nullptr) {
        prompts_.dialogs.push_back([=](QDialog& dialog) {
            auto& add = dynamic_cast<CDlgBlockAdd&>(dialog);
            EXPECT_EQ(add.windowTitle(), "Select the file to add");
            if (folder)
                *folder = add.directory().absolutePath();
            add.ChooseFile(QString::fromStdString(file));
            auto* combo = add.findChild<QComboBox*>("comboAddType");
            if (type)
                *type = combo->currentText();
            add.findChild<QLineEdit*>("editId")->setText(panel.id);
            add.findChild<QLineEdit*>("editMajor")->setText(panel.major);
            add.findChild<QLineEdit*>("editMinor")->setText(panel.minor);
            add.findChild<QCheckBox*>("checkBootable")->setChecked(panel.bootable);
            add.findChild<QCheckBox*>("checkBigEndian")->setChecked(panel.bigEndian);
            static_cast<QDialog&>(add).done(QDialog::Accepted);
            return add.result();
        });
    }
    QPoint RowPoint(int row) { return List()->visualItemRect(List()->topLevelItem(row)).center(); }
    QPoint EmptyPoint() { return QPoint(5, List()->viewport()->height() - 5); }
    void ClickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, modifiers, RowPoint(row));
    }
    void RightClick(const QPoint& at) {
        QTest::mouseClick(List()->viewport(), Qt::RightButton, {}, at);
    }
    // Files dragged from the desktop and dropped at a point of the list:
    // the drop goes where the drag was taken.
    void Drop(const QStringList& files, const QPoint& at) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& file : files) urls << QUrl::fromLocalFile(file);
        data.setUrls(urls);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(List()->viewport(), &enter);
        if (!enter.isAccepted())
            return;
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(List()->viewport(), &drop);
    }
    void Drag(int from, int to) {
        QWidget* viewport = List()->viewport();
        QTest::mousePress(viewport, Qt::LeftButton, {}, RowPoint(from));
        QTest::mouseMove(viewport, RowPoint(from) + QPoint(0, 6));
        QTest::mouseMove(viewport, RowPoint(to));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, RowPoint(to));
    }
    std::string SRecordFile(const char* name) {
        const std::string path = bench_.Temp().File(name);
        // Sixteen bytes at 0x1000, blank-padded to a length of four times 20.
        std::ofstream(path) << "S0060000686472BB\n"
                               "S315000010000104070A0D101316191C1F2225282B2E62\n"
                               "S70500001000EA\n ";
        return path;
    }
    // Closes the tool with OK and starts it again.
    void Restart() {
        Click("buttonOk");
        ASSERT_FALSE(dlg_->isVisible());
        dlg_.reset();
        prompts_.messages.clear();
        Open();
        ShowUserBlocks();
    }
};

// A whole job through the pages, on a module that holds nothing yet.
TEST_F(DlgUserBlocksTest, AJobThroughEveryPageIsReadBackAfterARestartAndErasedAgain) {
    Open();
    ShowPage(0);
    ChooseTimType("QT-6201");
    WaitUntilAllReady();
    Click("buttonBootloaderStandard");
    Click("buttonBitstreamStandard");
    QCoreApplication::sendPostedEvents();
    const QString boot = Find<QPlainTextEdit>("editBootloader")->toPlainText();
    const QString fpga = Find<QPlainTextEdit>("editBitstream")->toPlainText();
    EXPECT_TRUE(boot.startsWith("Version ")) << boot.toStdString();
    EXPECT_TRUE(fpga.startsWith("Version ")) << fpga.toStdString();

    ShowUserBlocks();
    EXPECT_TRUE(Rows().empty());

    const std::string exec = bench_.WriteExecutable("demo.out", 0x80001000, 3000, 1);
    const std::string srec = SRecordFile("table.hex");
    const std::string data = bench_.WriteData("coeff.bin", 1000, 2);
    QString guessed[3];
    AnswerAdd(exec, {"0x100", "1", "2"}, &guessed[0]);
    Click("buttonAddBlock");
    QString folder;
    AnswerAdd(srec, {"32", "2", "5"}, &guessed[1], &folder);
    Click("buttonAddBlock");
    AnswerAdd(data, {"", "", "", false, true}, &guessed[2]);
    Click("buttonAddBlock");
    EXPECT_EQ(guessed[0], "Code Composer Studio executable");
    EXPECT_EQ(guessed[1], "S-Record format file");
    EXPECT_EQ(guessed[2], "Raw binary file");
    // The next add starts where the last one took its file.
    EXPECT_EQ(folder.toStdString(), bench_.Temp().Path());
    const std::vector<std::string> added = Rows();
    for (const KovraMessage& m : prompts_.messages) ADD_FAILURE() << m.text;
    ASSERT_EQ(added.size(), 3u);
    EXPECT_EQ(added[0].rfind("Program 0x100 0 ", 0), 0u) << added[0];
    EXPECT_THAT(added[0], ::testing::EndsWith(" 1.2 demo.out Small"));
    EXPECT_EQ(added[1].rfind("S-Record 0x20 1 ", 0), 0u) << added[1];
    EXPECT_THAT(added[1], ::testing::EndsWith(" 2.5 table.hex Small"));
    EXPECT_EQ(added[2], "Raw data 0x0 2 1000 0.0 coeff.bin Big");

    // Two files dropped on the second row go in there, in order; one dropped
    // on empty space goes at the end. Raw data asks nothing about booting.
    const QString a = QString::fromStdString(bench_.WriteData("a.bin", 100, 3));
    const QString b = QString::fromStdString(bench_.WriteData("b.bin", 200, 4));
    const QString c = QString::fromStdString(bench_.WriteData("c.dat", 300, 5));
    Drop({a, b}, RowPoint(1));
    Drop({c}, EmptyPoint());
    std::vector<std::string> rows = Rows();
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[1], "Raw data 0x0 1 100 1.0 a.bin Small");
    EXPECT_EQ(rows[2], "Raw data 0x0 2 200 1.0 b.bin Small");
    const QString srecBytes = List()->topLevelItem(3)->text(3);
    EXPECT_EQ(rows[3], "S-Record 0x20 3 " + srecBytes.toStdString() + " 2.5 table.hex Small");
    EXPECT_EQ(rows[5], "Raw data 0x0 5 300 1.0 c.dat Small");
    EXPECT_TRUE(prompts_.messages.empty());

    // The S-record's id and version, by a double click on its row.
    QStringList shown;
    prompts_.dialogs.push_back([&](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Block properties");
        auto* id = dialog.findChild<QLineEdit*>("editId");
        auto* major = dialog.findChild<QLineEdit*>("editMajor");
        auto* minor = dialog.findChild<QLineEdit*>("editMinor");
        shown = {id->text(), major->text(), minor->text(),
                 dialog.findChild<QComboBox*>("comboEditType")->currentText()};
        id->setText("0x77");
        major->setText("3");
        minor->setText("4");
        dialog.accept();
        return dialog.result();
    });
    ClickRow(3);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, RowPoint(3));
    EXPECT_EQ(shown, QStringList({"0x20", "2", "5", "S-Record file"}));
    EXPECT_EQ(Rows()[3], "S-Record 0x77 3 " + srecBytes.toStdString() + " 3.4 table.hex Small");

    // The executable dragged from the top onto the fifth row.
    Drag(0, 4);
    rows = Rows();
    EXPECT_EQ(rows[0], "Raw data 0x0 0 100 1.0 a.bin Small");
    EXPECT_EQ(rows[4].rfind("Program 0x100 4 ", 0), 0u) << rows[4];

    // Booting from it, by its menu.
    prompts_.menuChoices.push_back("&Boot/&Boot from this block");
    RightClick(RowPoint(4));
    ASSERT_EQ(prompts_.menus.size(), 1u);
    EXPECT_EQ(prompts_.menus[0], QStringList({"&Edit", "&Insert", "&Delete", "&Verify", "&Update",
                                              "&Boot", "&Boot/&Boot from this block",
                                              "&Boot/&Cancel boot from this block (greyed)"}));
    EXPECT_THAT(BootFlags(), ElementsAre(false, false, false, false, true, false));
    const std::vector<std::string> before = Rows();

    // Dynamic values in both display modes.
    ShowPage(2);
    AnswerDynamic("0x80000000", "-1");
    Click("buttonAddDynamic");
    Click("checkHex");
    AnswerDynamic("4096", "16");
    Click("buttonAddDynamic");
    EXPECT_THAT(DynamicRows(), ElementsAre("0x80000000 -1", "0x00001000 16"));
    auto* dynamics = Find<QTreeWidget>("listDynamics");
    QTest::mouseClick(dynamics->viewport(), Qt::LeftButton, {},
                      dynamics->visualItemRect(dynamics->topLevelItem(1)).center());
    AnswerDynamic("", "0x20");
    Click("buttonEditDynamic");
    EXPECT_THAT(DynamicRows(), ElementsAre("0x80000000 -1", "0x00001000 32"));
    EXPECT_TRUE(prompts_.messages.empty());

    CommitAndWait();
    Restart();
    EXPECT_EQ(Rows(), before);
    EXPECT_THAT(BootFlags(), ElementsAre(false, false, false, false, true, false));
    // Written blocks carry their date.
    EXPECT_NE(List()->topLevelItem(0)->text(5), "N/A");
    EXPECT_TRUE(Record(0).flash->IsBoot());
    ShowPage(2);
    EXPECT_THAT(DynamicRows(), ElementsAre("0x80000000 0xFFFFFFFF", "0x00001000 0x20"));
    ShowPage(0);
    EXPECT_EQ(Find<QComboBox>("comboTimType")->currentText(), "QT-6201");
    // What the flash holds now says when it was programmed.
    EXPECT_TRUE(Find<QPlainTextEdit>("editBootloader")->toPlainText().startsWith(boot));
    EXPECT_TRUE(Find<QPlainTextEdit>("editBitstream")->toPlainText().contains("Programmed on"));

    // Erased from the Advanced page: the default chain, without user blocks
    // or values.
    ShowPage(3);
    Click("buttonErase");
    WaitUntilAllReady();
    ShowUserBlocks();
    EXPECT_TRUE(Rows().empty());
    ShowPage(2);
    EXPECT_TRUE(DynamicRows().empty());
    EXPECT_FALSE(Record(0).flash->IsBoot());
    EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(DlgUserBlocksTest, UpdateOfABlockWhoseFileWasDeletedKeepsTheBlock) {
    ProgramFirstModule();
    Open();
    ShowUserBlocks();
    const std::string data = bench_.WriteData("coeff.bin", 1000, 2);
    Drop({QString::fromStdString(data)}, EmptyPoint());
    CommitAndWait();
    const std::vector<std::string> rows = Rows();
    ASSERT_EQ(rows.size(), 1u);

    std::filesystem::remove(data);
    prompts_.messages.clear();
    prompts_.menuChoices.push_back("&Update");
    RightClick(RowPoint(0));
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].caption, "Exception");
    EXPECT_EQ(Rows(), rows);
    EXPECT_FALSE(Record(0).modified);

    // Update all says the same and keeps it too.
    Click("buttonUpdateAll");
    ASSERT_EQ(prompts_.messages.size(), 2u);
    EXPECT_EQ(Rows(), rows);
}

TEST_F(DlgUserBlocksTest, InsertRebuildAndCancelBootThroughTheMenus) {
    ProgramFirstModule();
    Open();
    ShowUserBlocks();
    const std::string first = bench_.WriteData("first.bin", 400, 1);
    const std::string program = bench_.WriteExecutable("prog.out", 0x80001000, 2000, 2);
    Drop({QString::fromStdString(first)}, EmptyPoint());
    ASSERT_EQ(Rows().size(), 1u);

    // Inserted in front of the block the menu was opened on, and booting.
    AnswerAdd(program, {"0x9", "4", "2", true});
    prompts_.menuChoices.push_back("&Insert");
    RightClick(RowPoint(0));
    std::vector<std::string> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].rfind("Program 0x9 0 ", 0), 0u) << rows[0];
    EXPECT_THAT(BootFlags(), ElementsAre(true, false));

    // Another file by the properties dialog's "...": rebuilt in its place
    // with its id, version and flag. The type follows the boxes it allows.
    const std::string second = bench_.WriteExecutable("second.out", 0x80002000, 1500, 3);
    prompts_.files.push_back(QString::fromStdString(second));
    bool bigEndianEnabled = true;
    prompts_.dialogs.push_back([&](QDialog& dialog) {
        auto* type = dialog.findChild<QComboBox*>("comboEditType");
        bigEndianEnabled = dialog.findChild<QCheckBox*>("checkBigEndian")->isEnabled();
        type->setCurrentIndex(0);  // "Raw data file"
        EXPECT_FALSE(dialog.findChild<QCheckBox*>("checkBootFromRom")->isEnabled());
        EXPECT_TRUE(dialog.findChild<QCheckBox*>("checkBigEndian")->isEnabled());
        type->setCurrentIndex(2);
        QTest::mouseClick(dialog.findChild<QPushButton*>("buttonBrowseBlock"), Qt::LeftButton);
        EXPECT_EQ(dialog.findChild<QLineEdit*>("editFileName")->text().toStdString(), second);
        dialog.accept();
        return dialog.result();
    });
    prompts_.menuChoices.push_back("&Edit");
    RightClick(RowPoint(0));
    EXPECT_FALSE(bigEndianEnabled);
    ASSERT_EQ(prompts_.queries.size(), 1u);
    EXPECT_EQ(prompts_.queries[0].fileName.toStdString(), program);
    rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].rfind("Program 0x9 0 ", 0), 0u) << rows[0];
    EXPECT_THAT(rows[0], ::testing::EndsWith(" 4.2 second.out Small"));
    EXPECT_THAT(BootFlags(), ElementsAre(true, false));

    prompts_.menuChoices.push_back("&Boot/&Cancel boot from this block");
    RightClick(RowPoint(0));
    EXPECT_THAT(prompts_.menus.back(),
                ::testing::Contains(QString("&Boot/&Boot from this block (greyed)")));
    EXPECT_THAT(BootFlags(), ElementsAre(false, false));
    EXPECT_FALSE(Record(0).flash->IsBoot());
    EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(DlgUserBlocksTest, UpdateRebuildsAChangedBlockFromItsFile) {
    ProgramFirstModule();
    Open();
    ShowUserBlocks();
    const std::string data = bench_.WriteData("coeff.bin", 1000, 2);
    AnswerAdd(data, {"0x5", "1", "1"});
    Click("buttonAddBlock");
    CommitAndWait();
    bench_.WriteData("coeff.bin", 1200, 7);
    ClickRow(0);
    prompts_.menuChoices.push_back("&Update");
    RightClick(RowPoint(0));
    EXPECT_THAT(Rows(), ElementsAre("Raw data 0x5 0 1200 1.1 coeff.bin Small"));
    EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(DlgUserBlocksTest, VerifyTellsEachOfItsThreeResults) {
    ProgramFirstModule();
    Open();
    ShowUserBlocks();
    const std::string same = bench_.WriteData("same.bin", 400, 1);
    const std::string changed = bench_.WriteData("changed.bin", 400, 2);
    const std::string gone = bench_.WriteData("gone.bin", 400, 3);
    Drop({QString::fromStdString(same), QString::fromStdString(changed),
          QString::fromStdString(gone)},
         EmptyPoint());
    CommitAndWait();
    bench_.WriteData("changed.bin", 400, 9);
    std::filesystem::remove(gone);
    prompts_.messages.clear();

    ClickRow(0);
    ClickRow(2, Qt::ShiftModifier);
    Click("buttonVerifyBlock");
    ASSERT_EQ(prompts_.messages.size(), 3u);
    EXPECT_EQ(prompts_.messages[0].text, "Verification suceeded.\n\n" + same +
                                             "\nhas been correctly programmed into the flash.");
    EXPECT_EQ(prompts_.messages[1].text,
              "Verification failed.\n\n" + changed +
                  "\nis different from the data programmed into the flash.");
    EXPECT_EQ(prompts_.messages[2].text, "The following file could not be found:\n" + gone + "\n");
    for (const KovraMessage& m : prompts_.messages) EXPECT_EQ(m.caption, "Result");
}

TEST_F(DlgUserBlocksTest, DeleteKeyRemovesTheSelectedRowsAndMenusGreyWhatCannotBeDone) {
    ProgramFirstModule();
    Open();
    ShowUserBlocks();
    QStringList files;
    for (int i = 0; i < 6; ++i)
        files << QString::fromStdString(bench_.WriteData("d" + std::to_string(i) + ".bin",
                                                         64 + 4 * i, static_cast<uint8_t>(i)));
    Drop(files, EmptyPoint());
    ASSERT_EQ(Rows().size(), 6u);

    // A raw data block cannot boot.
    RightClick(RowPoint(0));
    EXPECT_EQ(prompts_.menus.back(),
              QStringList({"&Edit", "&Insert", "&Delete", "&Verify", "&Update", "&Boot (greyed)",
                           "&Boot/&Boot from this block (greyed)",
                           "&Boot/&Cancel boot from this block (greyed)"}));
    RightClick(EmptyPoint());
    EXPECT_EQ(prompts_.menus.back(), QStringList({"&Add block", "&Update all blocks"}));
    EXPECT_FALSE(Find<QPushButton>("buttonDeleteBlock")->isEnabled());

    ClickRow(2);
    ClickRow(3, Qt::ControlModifier);
    ClickRow(5, Qt::ControlModifier);
    RightClick(RowPoint(5));
    EXPECT_EQ(prompts_.menus.back(), QStringList({"&Delete", "&Verify", "&Update"}));
    ASSERT_TRUE(Find<QPushButton>("buttonDeleteBlock")->isEnabled());
    QTest::keyClick(List(), Qt::Key_Delete);
    std::vector<std::string> names;
    for (const std::string& row : Rows()) names.push_back(row.substr(row.rfind(" d") + 1));
    EXPECT_THAT(names, ElementsAre("d0.bin Small", "d1.bin Small", "d4.bin Small"));
    // The first removed place is chosen again.
    ASSERT_EQ(List()->selectedItems().size(), 1);
    EXPECT_EQ(List()->indexOfTopLevelItem(List()->selectedItems()[0]), 2);
}

TEST_F(DlgUserBlocksTest, AnExecutableDroppedWhileNoneBootsAsksAndAnErrorEndsTheDrop) {
    ProgramFirstModule();
    Open();
    ShowUserBlocks();
    const QString exec =
        QString::fromStdString(bench_.WriteExecutable("first.out", 0x80001000, 2000, 1));
    const QString missing = QString::fromStdString(bench_.Temp().File("missing.bin"));
    const QString after = QString::fromStdString(bench_.WriteData("after.bin", 64, 1));
    prompts_.answers.push_back(KovraMessage::Answer::Yes);
    Drop({exec, missing, after}, EmptyPoint());
    ASSERT_EQ(prompts_.Captions(), std::vector<std::string>({"Bootable block", "Exception"}));
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_THAT(BootFlags(), ElementsAre(true));
    EXPECT_TRUE(Record(0).flash->IsBoot());
}

TEST_F(DlgUserBlocksTest, PageFollowsTheProcessorState) {
    ProgramFirstModule();
    Open();
    ShowUserBlocks();
    EXPECT_TRUE(Find<QWidget>("buttonAddBlock")->isEnabled());
    dlg_->EnableDialogs(false);
    for (const char* button : {"buttonAddBlock", "buttonEditBlock", "buttonDeleteBlock",
                               "buttonVerifyBlock", "buttonUpdateAll"})
        EXPECT_FALSE(Find<QWidget>(button)->isEnabled()) << button;
    // A drop while disabled is refused.
    Drop({QString::fromStdString(bench_.WriteData("x.bin", 64, 1))}, EmptyPoint());
    EXPECT_TRUE(Rows().empty());
}

}  // namespace
