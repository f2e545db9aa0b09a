// The records and the engine's callbacks without a window, against the fake
// engine: state transitions, questions, the re-read groups, the enumeration,
// and the main dialog's rules (tree states, percentage, close checks).
#include "tests/tool/FakeEngine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using kovra_test::FakeExc;
using kovra_test::FakeFlash;
using kovra_test::FakeHost;
using kovra_test::FakeSystem;
using kovra_test::FakeTimDatabase;
using kovra_test::Group;
using Answer = KovraMessage::Answer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class KovraCoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tims_.Add("QT-7", 7, {{"processors", 1}});
        tims_.Add("QT-TRIPLE", 0x21, {{"processors", 3}});
        tims_.Add("QT-BARE", 0x31, {});  // no "processors"
        tims_.Add("QT-ZERO", 0x41, {{"processors", 0}});
    }
    // Builds the records as the engine's state 2 does.
    void Enumerate(std::vector<FakeSystem::Board> boards) {
        system_ = std::make_unique<FakeSystem>(std::move(boards));
        core_.SetSystem(system_.get());
        core_.OnState(2);
    }
    void OneProcessor() { Enumerate({{"Board", {"CPU"}}}); }
    CpuRecord& Record(size_t index) { return *core_.Records().at(index); }
    FakeFlash& Flash(int board, int processor) { return system_->Flash(board, processor); }
    int Notice(CpuRecord& record, int kind, int a, intptr_t b = 0) {
        return CKovraCore::FlashCallback(kind, a, b, reinterpret_cast<uintptr_t>(&record));
    }

    FakeTimDatabase tims_;
    FakeHost host_;
    CKovraCore core_{host_, &tims_};
    std::unique_ptr<FakeSystem> system_;
};

TEST_F(KovraCoreTest, EnumerationBuildsOneConnectingRecordPerProcessor) {
    Enumerate({{"Carrier A", {"CPU_1", "CPU_2"}}, {"Carrier B", {"DSP"}}});
    std::vector<std::string> names;
    for (CpuRecord* record : core_.Records()) {
        names.push_back(record->name);
        EXPECT_EQ(record->state, CpuState::Connecting);
        EXPECT_EQ(record->timCode, 0u);
        EXPECT_FALSE(record->timKnown);
    }
    EXPECT_THAT(names, ElementsAre("Carrier A : CPU_1", "Carrier A : CPU_2", "Carrier B : DSP"));
    EXPECT_EQ(Flash(0, 0).connects, 1);
    EXPECT_EQ(Flash(1, 0).connects, 1);
    EXPECT_EQ(Flash(0, 1).callbackContext, reinterpret_cast<uintptr_t>(&Record(1)));
    EXPECT_TRUE(core_.Enumerated());
    const std::vector<KovraCommand> posted = host_.TakePosted();
    ASSERT_GE(posted.size(), 2u);
    EXPECT_EQ(posted[posted.size() - 2], KovraCommand::TargetInit);
    EXPECT_EQ(posted.back(), KovraCommand::HideSplash);
    EXPECT_TRUE(host_.asked.empty());
}

TEST_F(KovraCoreTest, LongNameStopsTheEnumerationWithTheExceptionBox) {
    const std::string longName(64, 'P');
    Enumerate({{"Board", {"CPU_1", longName, "CPU_3"}}});
    ASSERT_EQ(core_.Records().size(), 1u);  // the records built so far stay
    EXPECT_FALSE(core_.Enumerated());
    EXPECT_EQ(host_.Count(KovraCommand::TargetInit), 0);
    EXPECT_EQ(host_.Count(KovraCommand::HideSplash), 0);
    ASSERT_EQ(host_.asked.size(), 1u);
    EXPECT_EQ(host_.asked[0].caption, "Exception");
    EXPECT_THAT(host_.asked[0].text, HasSubstr("Buffer too small"));

    // 63 characters still fit with the terminating zero.
    FakeHost host;
    CKovraCore core(host, &tims_);
    FakeSystem fits({{"Board", {std::string(63, 'P')}}});
    core.SetSystem(&fits);
    core.OnState(2);
    EXPECT_TRUE(core.Enumerated());
    EXPECT_TRUE(host.asked.empty());
}

TEST_F(KovraCoreTest, StateCallbackConnectingDisablesThePages) {
    core_.OnState(1);
    core_.OnState(0);
    core_.OnState(5);
    EXPECT_THAT(host_.TakePosted(), ElementsAre(KovraCommand::EnableDialogsFalse));
}

struct CompletionCase {
    const char* name;
    CpuState before;
    uint32_t timCode;
    int result;
    CpuState after;
    std::vector<std::string> selected;
    bool exceptionBox;
};

void PrintTo(const CompletionCase& c, std::ostream* os) {
    *os << c.name;
}

class CompletionTest : public KovraCoreTest,
                       public ::testing::WithParamInterface<CompletionCase> {};

TEST_P(CompletionTest, MovesTheRecord) {
    const CompletionCase& c = GetParam();
    OneProcessor();
    CpuRecord& record = Record(0);
    core_.SetCurrent(&record);
    record.state = c.before;
    record.timCode = c.timCode;
    host_.TakePosted();
    EXPECT_EQ(Notice(record, 0, c.result), 0);
    EXPECT_EQ(record.state, c.after);
    EXPECT_EQ(Flash(0, 0).selected, c.selected);
    EXPECT_EQ(host_.asked.size(), c.exceptionBox ? 1u : 0u);
    if (c.exceptionBox) {
        EXPECT_EQ(host_.asked[0].text,
                  "The following exception occured:\n\nCommand failed (programmer)\n\n"
                  "Details: line 42 in Flash.cpp.");
    }
    const std::vector<KovraCommand> posted = host_.TakePosted();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back(), KovraCommand::UpdateUI);
    const bool populate = std::count(posted.begin(), posted.end(), KovraCommand::Populate) > 0;
    EXPECT_EQ(populate, c.result == 1 || c.result == 2);
}

INSTANTIATE_TEST_SUITE_P(
    Results, CompletionTest,
    ::testing::Values(
        CompletionCase{
            "ConnectedWithoutTim", CpuState::Connecting, 0, 0, CpuState::Ready, {}, false},
        CompletionCase{"ConnectedWithTim7",
                       CpuState::Connecting,
                       7,
                       0,
                       CpuState::SelectingTim,
                       {"QT-7"},
                       false},
        CompletionCase{"Selected", CpuState::SelectingTim, 7, 0, CpuState::Ready, {}, false},
        CompletionCase{"Committed", CpuState::Busy, 7, 0, CpuState::Ready, {}, false},
        CompletionCase{"CreatedStays", CpuState::Created, 7, 0, CpuState::Created, {}, false},
        CompletionCase{"ReadyStays", CpuState::Ready, 7, 0, CpuState::Ready, {}, false},
        CompletionCase{"CancelledConnect", CpuState::Connecting, 7, 1, CpuState::Ready, {}, false},
        CompletionCase{"FailedCommit", CpuState::Busy, 7, 2, CpuState::Ready, {}, true},
        CompletionCase{"OtherResult", CpuState::Busy, 7, 9, CpuState::Busy, {}, false}),
    kovra_test::CaseName());

TEST_F(KovraCoreTest, DetectedTimIsSelectedThenReady) {
    OneProcessor();
    CpuRecord& record = Record(0);
    Notice(record, 2, 1, 7);  // TIM type recognised
    EXPECT_TRUE(record.timKnown);
    Notice(record, 0, 0);
    EXPECT_EQ(record.state, CpuState::SelectingTim);
    EXPECT_THAT(Flash(0, 0).selected, ElementsAre("QT-7"));
    Notice(record, 0, 0);
    EXPECT_EQ(record.state, CpuState::Ready);
}

TEST_F(KovraCoreTest, StatusNotices) {
    OneProcessor();
    CpuRecord& record = Record(0);
    host_.TakePosted();
    const char* text = "Loading the flash programmer";
    Notice(record, 2, 0, reinterpret_cast<intptr_t>(text));
    EXPECT_EQ(record.statusText, text);
    Notice(record, 2, 1, 0x21);
    EXPECT_TRUE(record.timKnown);
    EXPECT_EQ(record.timCode, 0x21u);
    Notice(record, 2, 2, 0x21);
    EXPECT_EQ(record.timCode, 0u);
    Notice(record, 2, 9, 0x55);
    EXPECT_EQ(record.timCode, 0u);
    EXPECT_EQ(record.statusText, text);
    EXPECT_EQ(host_.TakePosted(), std::vector<KovraCommand>(4, KovraCommand::UpdateStatusString));

    Notice(record, 1, 3, 4);
    EXPECT_EQ(record.progressDone, 3u);
    EXPECT_EQ(record.progressTotal, 4u);
    Notice(record, 7, 0);
    EXPECT_THAT(host_.TakePosted(),
                ElementsAre(KovraCommand::UpdatePercentage, KovraCommand::UpdateUI));
}

struct QuestionCase {
    const char* name;
    int question;
    std::optional<Answer> answer;
    int returned;
    bool postsUpdateUI;
    const char* caption;
};

void PrintTo(const QuestionCase& c, std::ostream* os) {
    *os << c.name;
}

class QuestionTest : public KovraCoreTest, public ::testing::WithParamInterface<QuestionCase> {};

TEST_P(QuestionTest, AnswersTheEngine) {
    const QuestionCase& c = GetParam();
    OneProcessor();
    host_.TakePosted();
    if (c.answer)
        host_.answers.push_back(*c.answer);
    const char* file = "/firmware/bitstreams/other.sbf";
    const intptr_t b = c.question == 1 ? 7 : reinterpret_cast<intptr_t>(file);
    EXPECT_EQ(Notice(Record(0), 3, c.question, b), c.returned);
    EXPECT_EQ(host_.Count(KovraCommand::UpdateUI), c.postsUpdateUI ? 1 : 0);
    if (!*c.caption) {
        EXPECT_TRUE(host_.asked.empty());
        return;
    }
    ASSERT_EQ(host_.asked.size(), 1u);
    const KovraMessage& asked = host_.asked[0];
    EXPECT_EQ(asked.caption, c.caption);
    if (c.question == 1) {
        EXPECT_EQ(asked.text,
                  "This TIM is currently programmed as an QT-7.\nIf you continue, it will be "
                  "changed and may not work correctly.\nDo you wish to continue?");
        EXPECT_EQ(asked.defaultAnswer, Answer::No);
    } else if (c.question == 2) {
        EXPECT_EQ(asked.text, std::string(file) +
                                  "\nhas not been designed for the TIM you selected.\n\nAre you "
                                  "sure you want to continue?");
        EXPECT_EQ(asked.defaultAnswer, Answer::No);
    } else {
        EXPECT_TRUE(asked.systemModal);
        EXPECT_EQ(asked.buttons, KovraMessage::Buttons::Ok);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Questions, QuestionTest,
    ::testing::Values(QuestionCase{"TimChangeNo", 1, Answer::No, 1, false, "Changing TIM type"},
                      QuestionCase{"TimChangeYes", 1, Answer::Yes, 0, true, "Changing TIM type"},
                      QuestionCase{"BitstreamYes", 2, Answer::Yes, 1, false, "Warning"},
                      QuestionCase{"BitstreamNo", 2, Answer::No, 0, false, "Warning"},
                      QuestionCase{"EraseNotice", 3, std::nullopt, 1, false, "Notice"},
                      QuestionCase{"Unknown", 8, std::nullopt, 0, true, ""}),
    kovra_test::CaseName());

// A processor with data in every group.
void Fill(FakeFlash& flash) {
    flash.timCode = 7;
    flash.boot.version = 0x00010005;
    flash.bootName = "LDR";
    flash.bootChanged = true;
    flash.fpga.version = 0x00020000;
    flash.userIds = {10, 11, 12};
    flash.dynamics = {{0x100, 1}, {0x200, 2}};
    flash.flashSize = 4194304;
    flash.usedSize = 1048576;
    flash.modified = true;
}

struct RefreshCase {
    const char* name;
    std::optional<Group> failing;
    std::optional<uint32_t> failingUserBlock;
};

void PrintTo(const RefreshCase& c, std::ostream* os) {
    *os << c.name;
}

class RefreshTest : public KovraCoreTest, public ::testing::WithParamInterface<RefreshCase> {};

TEST_P(RefreshTest, AFailingGroupIsClearedAndTheOthersRead) {
    const RefreshCase& c = GetParam();
    OneProcessor();
    CpuRecord& record = Record(0);
    core_.SetCurrent(&record);
    // What an earlier refresh left, so that clearing shows.
    record.userBlocks.resize(5);
    record.dynamics.resize(5);
    record.flashSize = 99;
    FakeFlash& flash = Flash(0, 0);
    Fill(flash);
    if (c.failing)
        flash.failing.insert(*c.failing);
    flash.failingUserBlock = c.failingUserBlock;
    host_.TakePosted();

    Notice(record, 4, 0);

    auto fails = [&](Group g) { return c.failing == g; };
    EXPECT_TRUE(record.dataRead);
    EXPECT_EQ(record.bootHeader.version, fails(Group::BootLoader) ? 0u : 0x00010005u);
    EXPECT_EQ(record.bootName, fails(Group::BootLoader) ? "" : "LDR");
    EXPECT_EQ(record.fpgaHeader.version, fails(Group::Fpga) ? 0u : 0x00020000u);
    EXPECT_EQ(record.fpgaRecord[0], fails(Group::Fpga) ? 0 : 0x5A);
    std::vector<uint32_t> ids;
    for (const UserBlockEntry& e : record.userBlocks) ids.push_back(e.header.id);
    const std::vector<uint32_t> expected =
        c.failingUserBlock ? std::vector<uint32_t>{} : std::vector<uint32_t>{10, 11, 12};
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(record.dynamics.size(), fails(Group::Dynamics) ? 0u : 2u);
    if (!fails(Group::Dynamics)) {
        EXPECT_EQ(record.dynamics[1].address, 0x200u);
    }
    EXPECT_EQ(record.flashSize, fails(Group::Sizes) ? 0u : 4194304u);
    EXPECT_EQ(record.usedSize, fails(Group::Sizes) ? 0u : 1048576u);
    EXPECT_EQ(record.modified, !fails(Group::Modified));
    EXPECT_THAT(host_.TakePosted(),
                ElementsAre(KovraCommand::Populate, KovraCommand::SetTreeStates));
}

INSTANTIATE_TEST_SUITE_P(Groups, RefreshTest,
                         ::testing::Values(RefreshCase{"AllRead", std::nullopt, std::nullopt},
                                           RefreshCase{"BootLoader", Group::BootLoader,
                                                       std::nullopt},
                                           RefreshCase{"Fpga", Group::Fpga, std::nullopt},
                                           RefreshCase{"UserBlockInTheMiddle", std::nullopt, 1},
                                           RefreshCase{"Dynamics", Group::Dynamics, std::nullopt},
                                           RefreshCase{"Sizes", Group::Sizes, std::nullopt},
                                           RefreshCase{"Modified", Group::Modified, std::nullopt}),
                         kovra_test::CaseName());

TEST_F(KovraCoreTest, RefreshOfAnotherRecordDoesNotPopulate) {
    Enumerate({{"Board", {"A", "B"}}});
    core_.SetCurrent(&Record(0));
    host_.TakePosted();
    Notice(Record(1), 4, 0);
    EXPECT_THAT(host_.TakePosted(), ElementsAre(KovraCommand::SetTreeStates));
    EXPECT_TRUE(Record(1).userBlocks.empty());
}

struct TreeCase {
    const char* name;
    std::vector<uint32_t> timCodes;  // per record, in enumeration order
    std::vector<TreeImage> images;
};

void PrintTo(const TreeCase& c, std::ostream* os) {
    *os << c.name;
}

class TreeStatesTest : public KovraCoreTest, public ::testing::WithParamInterface<TreeCase> {};

TEST_P(TreeStatesTest, FirstProcessorOfATimOwnsTheFlash) {
    const TreeCase& c = GetParam();
    std::vector<std::string> processors;
    for (size_t i = 0; i < c.timCodes.size(); ++i) processors.push_back("P" + std::to_string(i));
    Enumerate({{"Board", processors}});
    for (size_t i = 0; i < c.timCodes.size(); ++i) Record(i).timCode = c.timCodes[i];
    core_.SetTreeStates();
    std::vector<TreeImage> images;
    for (CpuRecord* record : core_.Records()) {
        images.push_back(record->image);
        EXPECT_EQ(record->noRomAccess, record->image == TreeImage::NoAccess);
    }
    EXPECT_EQ(images, c.images);
}

constexpr TreeImage R = TreeImage::Ready;
constexpr TreeImage X = TreeImage::NoAccess;

INSTANTIATE_TEST_SUITE_P(
    Tims, TreeStatesTest,
    ::testing::Values(
        // Three processors on a TIM with "processors" = 3, then another board's.
        TreeCase{"ThreeOnOneTim", {0x21, 0x21, 0x21, 7}, {R, X, X, R}},
        // The skipped ones are judged without their own TIM.
        TreeCase{"SkippedIgnoreOwnTim", {0x21, 0x21, 0x21, 0x21, 0x21}, {R, X, X, R, X}},
        TreeCase{"NoProcessorsKey", {0x31, 0x21, 0, 0}, {R, R, X, X}},
        TreeCase{"CountBelowOne", {0x41, 7}, {R, R}}, TreeCase{"UnknownTim", {0x99, 7}, {R, R}},
        TreeCase{"NoTim", {0, 0}, {R, R}}),
    kovra_test::CaseName());

TEST_F(KovraCoreTest, TreeImageFollowsStateAndChanges) {
    Enumerate({{"Board", {"A", "B", "C"}}});
    Record(0).state = CpuState::Busy;
    Record(0).modified = true;
    Record(1).modified = true;
    core_.SetTreeStates();
    EXPECT_EQ(Record(0).image, TreeImage::Busy);
    EXPECT_EQ(Record(1).image, TreeImage::Modified);
    EXPECT_EQ(Record(2).image, TreeImage::Ready);
}

TEST_F(KovraCoreTest, PercentageOverAllProcessors) {
    Enumerate({{"Board", {"A", "B"}}});
    struct Step {
        uint32_t done0, total0, done1, total1;
        int percent;
        const char* line;
    };
    const Step steps[] = {
        {3, 4, 0, 0, 75, "Percentage done 75 %"},
        {4, 4, 0, 0, 100, "Complete"},  // counters reset here
        {0, 0, 0, 0, 100, "Complete"},  // a late handler keeps it
        {1, 3, 0, 3, 16, "Percentage done 16 %"},
    };
    for (const Step& s : steps) {
        if (s.total0 || s.total1) {
            Notice(Record(0), 1, s.done0, s.total0);
            Notice(Record(1), 1, s.done1, s.total1);
        }
        const PercentageView view = core_.UpdatePercentage();
        EXPECT_EQ(view.percent, s.percent) << s.line;
        EXPECT_EQ(view.line, s.line);
    }
    // After "Complete" the counters start again from 0.
    Notice(Record(0), 1, 2, 2);
    Notice(Record(1), 1, 0, 0);
    EXPECT_EQ(core_.UpdatePercentage().line, "Complete");
    EXPECT_EQ(Record(0).progressTotal, 0u);
    EXPECT_EQ(Record(1).progressDone, 0u);
}

TEST_F(KovraCoreTest, StoppedCommandLeavesNoProgressBehind) {
    Enumerate({{"Board", {"A", "B"}}});
    for (int result : {1, 2}) {
        SCOPED_TRACE(result);
        Record(0).state = CpuState::Busy;
        Notice(Record(0), 1, 2, 5);
        Notice(Record(0), 0, result);  // failed or cancelled part-way
        EXPECT_EQ(core_.UpdatePercentage().line, "");
        Notice(Record(1), 1, 4, 4);
        EXPECT_EQ(core_.UpdatePercentage().line, "Complete");
    }
}

TEST_F(KovraCoreTest, NewCommitForgetsTheLastComplete) {
    OneProcessor();
    Notice(Record(0), 1, 1, 1);
    EXPECT_EQ(core_.UpdatePercentage().line, "Complete");
    core_.SetCpuState(Record(0), CpuState::Busy);
    const PercentageView view = core_.UpdatePercentage();
    EXPECT_EQ(view.line, "");
    EXPECT_EQ(view.percent, 0);
}

struct CloseCase {
    const char* name;
    bool current;
    bool unwritten;
    uint32_t bootVersion;
    uint32_t fpgaVersion;
    std::optional<Answer> answer;
    bool closes;
    std::vector<std::string> captions;
    const char* firstWords;
};

void PrintTo(const CloseCase& c, std::ostream* os) {
    *os << c.name;
}

class CanCloseTest : public KovraCoreTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CanCloseTest, AsksOrNotes) {
    const CloseCase& c = GetParam();
    Enumerate({{"Board", {"A", "B"}}});
    CpuRecord& record = Record(1);
    if (c.current)
        core_.SetCurrent(&Record(0));
    Record(0).bootHeader.version = c.bootVersion;
    Record(0).fpgaHeader.version = c.fpgaVersion;
    record.dataRead = c.unwritten;
    record.modified = c.unwritten;
    if (c.answer)
        host_.answers.push_back(*c.answer);
    EXPECT_EQ(core_.CanClose(), c.closes);
    std::vector<std::string> captions;
    for (const KovraMessage& m : host_.asked) captions.push_back(m.caption);
    EXPECT_EQ(captions, c.captions);
    if (!host_.asked.empty()) {
        EXPECT_EQ(host_.asked[0].text.rfind(c.firstWords, 0), 0u) << host_.asked[0].text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Checks, CanCloseTest,
    ::testing::Values(CloseCase{"DiscardYes",
                                true,
                                true,
                                1,
                                1,
                                Answer::Yes,
                                true,
                                {"Flash data not written"},
                                "Do you wish to discard your changes?"},
                      CloseCase{"DiscardNo",
                                true,
                                true,
                                1,
                                1,
                                Answer::No,
                                false,
                                {"Flash data not written"},
                                "Do you wish"},
                      CloseCase{"DiscardCancel",
                                true,
                                true,
                                0,
                                0,
                                Answer::Cancel,
                                false,
                                {"Flash data not written"},
                                "Do you wish"},
                      CloseCase{"NoCurrent", false, false, 0, 0, std::nullopt, true, {}, ""},
                      CloseCase{"NoBootLoaderOnlyThatNote",
                                true,
                                false,
                                0,
                                0,
                                std::nullopt,
                                true,
                                {"Important"},
                                "Note that you currently have no bootloader programmed."},
                      CloseCase{"NoBitstream",
                                true,
                                false,
                                1,
                                0,
                                std::nullopt,
                                true,
                                {"Important"},
                                "Note that you currently have no FPGA bitstream programmed."},
                      CloseCase{"AllThere", true, false, 1, 1, std::nullopt, true, {}, ""}),
    kovra_test::CaseName());

TEST_F(KovraCoreTest, CancelAsksOnlyWhileBusy) {
    OneProcessor();
    Record(0).dataRead = Record(0).modified = true;  // unwritten, but nothing runs
    EXPECT_TRUE(core_.ConfirmCancel(false));
    EXPECT_TRUE(host_.asked.empty());
    host_.answers = {Answer::No, Answer::Yes};
    EXPECT_FALSE(core_.ConfirmCancel(true));
    EXPECT_TRUE(core_.ConfirmCancel(true));
    ASSERT_EQ(host_.asked.size(), 2u);
    EXPECT_EQ(host_.asked[0].text, "Do you wish to discard your changes?");
}

TEST_F(KovraCoreTest, CommitWritesOnlyReadyChangedProcessorsWithRomAccess) {
    Enumerate({{"Board", {"Ready", "Unchanged", "NoAccess", "Selecting", "Unread"}}});
    for (CpuRecord* r : core_.Records()) {
        r->state = CpuState::Ready;
        r->dataRead = r->modified = true;
    }
    Record(1).modified = false;
    Record(2).noRomAccess = true;
    Record(3).state = CpuState::SelectingTim;
    Record(4).dataRead = false;
    EXPECT_TRUE(core_.AnyCommittable());
    core_.Commit();
    EXPECT_EQ(Record(0).state, CpuState::Busy);
    std::vector<int> commits;
    for (int p = 0; p < 5; ++p) commits.push_back(Flash(0, p).commits);
    EXPECT_THAT(commits, ElementsAre(1, 0, 0, 0, 0));
    EXPECT_TRUE(core_.AnyBusy());
}

TEST_F(KovraCoreTest, BusyIgnoresProcessorsWithoutRomAccess) {
    Enumerate({{"Board", {"A", "B"}}});
    Record(0).state = CpuState::Ready;
    Record(1).state = CpuState::Connecting;
    Record(1).noRomAccess = true;
    EXPECT_FALSE(core_.AnyBusy());
    Record(1).noRomAccess = false;
    EXPECT_TRUE(core_.AnyBusy());
}

TEST_F(KovraCoreTest, StatusStringOfTheCurrentRecord) {
    Enumerate({{"Board", {"A", "B"}}});
    EXPECT_EQ(core_.StatusString(), "");
    Record(0).statusText = "Reading the flash";
    core_.SetCurrent(&Record(0));
    EXPECT_EQ(core_.StatusString(), "Reading the flash");
    Record(0).noRomAccess = true;
    EXPECT_EQ(core_.StatusString(), "CPU not available");
}

struct ExceptionCase {
    const char* name;
    const char* source;
    const char* detail;
    const char* text;
};

void PrintTo(const ExceptionCase& c, std::ostream* os) {
    *os << c.name;
}

class ExceptionTextTest : public ::testing::TestWithParam<ExceptionCase> {};

TEST_P(ExceptionTextTest, Formats) {
    const ExceptionCase& c = GetParam();
    const FakeExc error(11, "Could not open the file", c.source, c.detail);
    EXPECT_EQ(ExceptionText(error), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ExceptionTextTest,
    ::testing::Values(
        ExceptionCase{"DetailAndFolders", "C:\\work\\engine\\BlockUser.cpp", "/tmp/a.out",
                      "The following exception occured:\n\nCould not open the file (/tmp/a.out)"
                      "\n\nDetails: line 42 in BlockUser.cpp."},
        ExceptionCase{"NoDetail", "BlockUser", "",
                      "The following exception occured:\n\nCould not open the file\n\n"
                      "Details: line 42 in BlockUser."},
        ExceptionCase{"TrailingBackslash", "engine\\", "",
                      "The following exception occured:\n\nCould not open the file\n\n"
                      "Details: line 42 in ."}),
    kovra_test::CaseName());

TEST_F(KovraCoreTest, CallbackOffAndOnRereadsOnce) {
    OneProcessor();
    CpuRecord& record = Record(0);
    Fill(Flash(0, 0));
    core_.FlashCallbackOff(record);
    EXPECT_EQ(Flash(0, 0).callback, nullptr);
    core_.FlashCallbackOn(record);
    EXPECT_TRUE(record.dataRead);
    EXPECT_EQ(record.userBlocks.size(), 3u);
}

}  // namespace
