// The Gorlin dialog driven through its controls on the offscreen platform:
// builds read back with the stack-file code, the .dat mode, showing an SBF,
// start with and without the TIM library, and the stored "Sbf" value.
#include "tests/builder/GorlinDlgFixture.h"

#include "builder/GorlinApp.h"
#include "builder/GorlinTimLibrary.h"
#include "engine/formats/SBFManage.h"

#include <gmock/gmock.h>

using namespace qel::fixtures;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using Icon = IGorlinPrompts::Icon;

SbfDescriptor ReadBack(const std::string& path) {
    SbfDescriptor descriptor;
    uint32_t formatWord = 0;
    EXPECT_EQ(CSBFManage().ReadSbf(path.c_str(), &descriptor, &formatWord), SBF_OK) << path;
    EXPECT_EQ(formatWord, SBF_FORMAT_WORD);
    return descriptor;
}

// The "TimType" of a TIM type by name, from the build's TIM data.
uint32_t TypeOf(const char* name) {
    CGorlinTimLibrary library;
    EXPECT_TRUE(library.Open());
    const CQelTimRecord* record = library.Database()->FindByName(name);
    EXPECT_TRUE(record) << name;
    return record ? static_cast<uint32_t>(record->GetInt("TimType", 0)) : 0;
}

QString Info(const std::string& summary) {
    return QString::fromStdString(summary).replace("\r\n", "\n");
}

class GorlinDlgTest : public GorlinDlgFixture {};

TEST_F(GorlinDlgTest, OffersTheListedTimTypesUnderTargetInLibraryOrder) {
    Open();
    QStringList expected;
    CGorlinTimLibrary library;
    ASSERT_TRUE(library.Open());
    for (uint32_t i = 0; i < library.Database()->Count(); ++i) {
        const CQelTimRecord* record = library.Database()->At(i);
        if ((record->GetInt("TimType", 0) & 7) == 1)
            expected << record->Name();
    }
    ASSERT_EQ(Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(Tree()->topLevelItem(0)->text(0), "Target");
    EXPECT_TRUE(Tree()->topLevelItem(0)->isExpanded());
    EXPECT_EQ(TreeNames(false), expected);
    EXPECT_TRUE(expected.contains("QT-6201"));
    EXPECT_FALSE(expected.contains("QT-TEST10"));  // "TimType" 10
    EXPECT_THAT(TreeNames(true), IsEmpty());
    EXPECT_THAT(prompts_.messages, IsEmpty());
}

TEST_F(GorlinDlgTest, BuildsTheCheckedTypesNewestFirstAndShowsTheResult) {
    const std::string bit = WriteBit("top.bit");
    Open();
    Browse("buttonBrowseInput", bit);
    ASSERT_EQ(prompts_.queries.size(), 1u);
    const IGorlinPrompts::FileQuery& query = prompts_.queries[0];
    EXPECT_EQ(query.title, "Select bit file");
    ASSERT_EQ(query.filters.size(), 3);
    EXPECT_EQ(query.filters[0].description, "Bit files (.bit)");
    EXPECT_EQ(query.filters[1].description, "Dat files (.dat)");
    EXPECT_EQ(query.filters[2].description, "All Files (*.*)");
    EXPECT_EQ(query.defaultSuffix, "bit");

    EXPECT_TRUE(Find<QCheckBox>("checkAutoName")->isChecked());
    EXPECT_FALSE(Edit("editFile")->isEnabled());
    EXPECT_EQ(Text("editInput").toStdString(), bit);
    EXPECT_EQ(Text("editFile").toStdString(), dir_.File("top_2v1000v1p0.sbf"));

    Type("editMajor", "2");
    Type("editMinor", "3");
    Type("editComment", "first light");
    const std::string sbf = dir_.File("top_2v1000v2p3.sbf");
    EXPECT_EQ(Text("editFile").toStdString(), sbf);

    for (const char* name : {"QT-6201", "QT-6403", "QT-6710B"}) Toggle(name);
    EXPECT_EQ(TreeNames(true), QStringList({"QT-6201", "QT-6403", "QT-6710B"}));
    Click("buttonBuild");

    EXPECT_THAT(prompts_.messages, IsEmpty());
    EXPECT_EQ(Status(), "success");
    const SbfDescriptor built = ReadBack(sbf);
    EXPECT_EQ(built.magic, SBF_MAGIC);
    EXPECT_EQ(built.version, 0x00020003u);
    // Newest entry first: the reverse of the tree.
    EXPECT_THAT(built.timTypes,
                ElementsAre(TypeOf("QT-6710B"), TypeOf("QT-6403"), TypeOf("QT-6201")));
    EXPECT_EQ(built.comment, "first light");
    EXPECT_EQ(built.sourcePath, bit);
    EXPECT_NE(built.info.find("2v1000fg456"), std::string::npos);
    ASSERT_EQ(built.dataItems.Count(), 2u);
    // The dialog now shows what it wrote.
    EXPECT_EQ(Text("editInfo"), Info(built.info));
    EXPECT_EQ(Text("editFile").toStdString(), sbf);
    for (const char* control : {"editInput", "editMajor", "editMinor", "editComment",
                                "buttonBrowseInput", "buttonBrowseFile", "buttonBuild"})
        EXPECT_TRUE(Find<QWidget>(control)->isEnabled()) << control;
}

TEST_F(GorlinDlgTest, BuildWithNothingCheckedAsksForATargetAndShowsTheFailureIcon) {
    const std::string bit = WriteBit("top.bit");
    Open();
    Browse("buttonBrowseInput", bit);
    Toggle("QT-6201");
    Click("buttonClear");
    EXPECT_THAT(TreeNames(true), IsEmpty());
    Click("buttonBuild");
    EXPECT_THAT(prompts_.messages,
                ElementsAre(ShownMessage{"You need to select at least one target TIM type", "Error",
                                         Icon::Information}));
    EXPECT_EQ(Status(), "failure");
    EXPECT_FALSE(std::filesystem::exists(Text("editFile").toStdString()));
}

TEST_F(GorlinDlgTest, FailedBuildSaysSoInTheInfoBox) {
    Open();
    Type("editInput", QString::fromStdString(dir_.File("missing.bit")));
    Toggle("QT-6201");
    Click("buttonBuild");
    EXPECT_EQ(Text("editInfo"), "Fail to build sbf file!!!");
    EXPECT_EQ(Status(), "failure");
    EXPECT_THAT(prompts_.messages, IsEmpty());
    // Any edit afterwards hides the icon again.
    Type("editMajor", "4");
    EXPECT_EQ(Status(), "");
}

TEST_F(GorlinDlgTest, DatInputTakesVersionAndCommentFromItsTrailer) {
    const std::string dat = dir_.File("top.dat");
    WriteFile(dat, MakeDatFile(MakeBitstreamBody(4096), "QEL bitstream 2.7 release"));
    Open();
    Type("editMajor", "5");
    Type("editComment", "typed");
    Browse("buttonBrowseInput", dat);

    EXPECT_EQ(Text("editMajor"), "1");
    EXPECT_EQ(Text("editMinor"), "0");
    EXPECT_EQ(Text("editComment"), "");
    EXPECT_TRUE(Edit("editMajor")->isReadOnly());
    EXPECT_TRUE(Edit("editMinor")->isReadOnly());
    EXPECT_TRUE(Find<QPlainTextEdit>("editComment")->isReadOnly());
    const std::string sbf = dir_.File("top_v1p0.sbf");
    EXPECT_EQ(Text("editFile").toStdString(), sbf);

    Toggle("QT-6202C");
    Click("buttonBuild");
    EXPECT_EQ(Status(), "success");
    const SbfDescriptor built = ReadBack(sbf);
    EXPECT_EQ(built.version, 0x00020007u);
    EXPECT_EQ(built.comment, "QEL bitstream 2.7 release");
    EXPECT_EQ(built.info, "");
    EXPECT_THAT(built.timTypes, ElementsAre(TypeOf("QT-6202C")));
    // Shown afterwards: the version the file holds, name unchanged.
    EXPECT_EQ(Text("editMajor"), "2");
    EXPECT_EQ(Text("editMinor"), "7");
    EXPECT_EQ(Text("editFile").toStdString(), sbf);

    // A .bit input makes the edits editable again.
    Type("editInput", QString::fromStdString(WriteBit("next.bit")));
    EXPECT_FALSE(Edit("editMajor")->isReadOnly());
    EXPECT_FALSE(Find<QPlainTextEdit>("editComment")->isReadOnly());
}

class GorlinShowSbfTest : public GorlinDlgFixture {
  protected:
    // An SBF of two listed types and one the tree does not offer.
    std::string MakeSbf() {
        source_ = WriteBit("source.bit");
        const std::string sbf = dir_.File("stored.sbf");
        EXPECT_EQ(CSBFManage().BuildFromBit(source_.c_str(), sbf.c_str(), 0x00030004,
                                            {TypeOf("QT-6403"), 0x99, TypeOf("QT-6100L")},
                                            "stored comment"),
                  SBF_OK);
        return sbf;
    }
    void ExpectShown(const std::string& sbf) {
        EXPECT_EQ(TreeNames(true), QStringList({"QT-6100L", "QT-6403"}));
        EXPECT_EQ(Text("editInput").toStdString(), source_);
        EXPECT_EQ(Text("editMajor"), "3");
        EXPECT_EQ(Text("editMinor"), "4");
        EXPECT_EQ(Text("editComment"), "stored comment");
        EXPECT_EQ(Text("editInfo"), Info(ReadBack(sbf).info));
        EXPECT_FALSE(Text("editInfo").isEmpty());
        EXPECT_EQ(Text("editFile").toStdString(), sbf);
        EXPECT_FALSE(Find<QCheckBox>("checkAutoName")->isChecked());
        EXPECT_TRUE(Edit("editFile")->isEnabled());
    }
    std::string source_;
};

TEST_F(GorlinShowSbfTest, ChoosingAnSbfChecksItsTypesAndFillsTheFields) {
    const std::string sbf = MakeSbf();
    Open();
    Toggle("QT-6201");
    Browse("buttonBrowseFile", sbf);
    ASSERT_EQ(prompts_.queries.size(), 1u);
    EXPECT_EQ(prompts_.queries[0].title, "Select sbf file");
    ASSERT_EQ(prompts_.queries[0].filters.size(), 2);
    EXPECT_EQ(prompts_.queries[0].filters[0].description, "Sbf files (.sbf)");
    EXPECT_EQ(prompts_.queries[0].filters[1].description, "All Files (*.*)");
    EXPECT_EQ(prompts_.queries[0].defaultSuffix, "sbf");
    ExpectShown(sbf);
    EXPECT_EQ(Status(), "");
}

TEST_F(GorlinShowSbfTest, StartShowsTheStoredSbf) {
    const std::string sbf = MakeSbf();
    ASSERT_EQ(CRegEdit(kGorlinSettingsKey, kGorlinSettingsApp).SetString(kGorlinSbfValue, sbf),
              CRegEdit::Done);
    Open();
    ExpectShown(sbf);
}

TEST_F(GorlinShowSbfTest, AnSbfThatCannotBeReadLeavesTheFields) {
    const std::string bad = dir_.File("bad.sbf");
    WriteFile(bad, Bytes{0, 0, 0, 0, 9, 9, 9, 9});
    Open();
    Type("editMajor", "6");
    Toggle("QT-6201");
    Browse("buttonBrowseFile", bad);
    EXPECT_EQ(Text("editFile").toStdString(), bad);
    EXPECT_EQ(Text("editMajor"), "6");
    EXPECT_EQ(TreeNames(true), QStringList({"QT-6201"}));
    EXPECT_EQ(Text("editInfo"), "");
}

TEST_F(GorlinDlgTest, WithoutAStoredValueTheNameIsGenerated) {
    Open();
    EXPECT_TRUE(Find<QCheckBox>("checkAutoName")->isChecked());
    EXPECT_FALSE(Edit("editFile")->isEnabled());
    EXPECT_EQ(Text("editFile"), "");
    EXPECT_EQ(Status(), "");

    // Unchecked, the File edit is the user's; a click on the box names it again.
    Click("checkAutoName");
    EXPECT_TRUE(Edit("editFile")->isEnabled());
    Type("editInput", "/bits/top.bit");
    Type("editFile", "/bits/mine.sbf");
    Click("checkAutoName");
    EXPECT_FALSE(Edit("editFile")->isEnabled());
    EXPECT_EQ(Text("editFile"), "/bits/top_v1p0.sbf");
}

enum class CloseBy { CloseButton, Escape, WindowButton };

void PrintTo(CloseBy by, std::ostream* os) {
    *os << (by == CloseBy::CloseButton ? "Close" : by == CloseBy::Escape ? "Esc" : "window");
}

class GorlinCloseTest : public GorlinDlgFixture, public ::testing::WithParamInterface<CloseBy> {};

TEST_P(GorlinCloseTest, ClosingStoresTheFileText) {
    Open();
    Click("checkAutoName");
    Type("editFile", "/bits/kept.sbf");
    switch (GetParam()) {
        case CloseBy::CloseButton:
            Click("buttonClose");
            break;
        case CloseBy::Escape:
            QTest::keyClick(Edit("editFile"), Qt::Key_Escape);
            break;
        case CloseBy::WindowButton:
            dlg_->close();
            break;
    }
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->result(), QDialog::Rejected);
    EXPECT_EQ(StoredSbf(), "/bits/kept.sbf");
}

INSTANTIATE_TEST_SUITE_P(Ways, GorlinCloseTest,
                         ::testing::Values(CloseBy::CloseButton, CloseBy::Escape,
                                           CloseBy::WindowButton),
                         [](const auto& p) {
                             switch (p.param) {
                                 case CloseBy::CloseButton:
                                     return "CloseButton";
                                 case CloseBy::Escape:
                                     return "Escape";
                                 default:
                                     return "WindowButton";
                             }
                         });

TEST_F(GorlinDlgTest, WithoutTheTimDatabaseTheDialogOpensEmpty) {
    ASSERT_EQ(CRegEdit(kGorlinSettingsKey, kGorlinSettingsApp).SetString(kGorlinSbfValue, "x.sbf"),
              CRegEdit::Done);
    qputenv("QEL4410_TIMDATA", QByteArray::fromStdString(dir_.File("no-such-folder")));
    Open();
    qunsetenv("QEL4410_TIMDATA");
    EXPECT_THAT(prompts_.messages, ElementsAre(ShownMessage{"Could not open QelTimInfo library",
                                                            "Error", Icon::Error}));
    EXPECT_EQ(Tree()->topLevelItemCount(), 0);
    EXPECT_EQ(Text("editFile"), "");  // the stored settings are not read
    EXPECT_TRUE(dlg_->isVisible());
}

TEST_F(GorlinDlgTest, AMissingLibraryEndsWithTheBindersText) {
    EXPECT_EQ(CreateGorlinDlg(prompts_, "NoSuchTimInfo.dll"), nullptr);
    EXPECT_THAT(prompts_.messages,
                ElementsAre(ShownMessage{"Could not find QelTimInfo.dll", "Error", Icon::Error}));
}

TEST_F(GorlinDlgTest, F1AndTheHelpMenuOpenTheAboutBox) {
    Open();
    QTest::keyClick(Edit("editInput"), Qt::Key_F1);
    EXPECT_EQ(prompts_.aboutBoxes, 1);
    QAction* about = Find<QAction>("actionAbout");
    EXPECT_EQ(about->text(), "&About Gorlin...");
    about->trigger();
    EXPECT_EQ(prompts_.aboutBoxes, 2);
}

}  // namespace
