// The User blocks page's sequences of engine calls, on a fake flash object
// that keeps its blocks in memory and logs the calls that change them:
// what each command does, and that a failing step loses nothing.
#include "tests/tool/FakeEngine.h"
#include "tool/UserBlockActions.h"

#include <gmock/gmock.h>

#include <set>

namespace {

using kovra_test::FakeExc;
using ::testing::ElementsAre;

class BlockFlash : public kovra_test::FakeFlash {
  public:
    struct Block {
        uint32_t subType;
        uint32_t id;
        uint32_t version;
        UserBlockRecord record;
        std::string File() const { return record.fileName; }
    };

    void GetUserBlockCount(uint32_t* count) override {
        *count = static_cast<uint32_t>(blocks.size());
    }
    void AddUserBlock(uint32_t subType, const UserBlockRecord* record, uint32_t id, uint32_t major,
                      uint32_t minor, int32_t index) override {
        log.push_back("add " + std::string(record->fileName) + " at " + std::to_string(index));
        if (unreadable.count(record->fileName))
            throw FakeExc(kErrorCannotOpenFile, "Could not open the file");
        const size_t at = index >= 0 && static_cast<size_t>(index) < blocks.size()
                              ? static_cast<size_t>(index)
                              : blocks.size();
        blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(at),
                      Block{subType, id, major << 16 | minor, *record});
    }
    void EditUserBlock(uint32_t index, uint32_t id, uint32_t version,
                       const UserBlockRecord* record) override {
        log.push_back("edit " + std::to_string(index));
        Block& block = blocks.at(index);
        block.id = id;
        block.version = version;
        block.record = *record;
    }
    void RemoveUserBlock(uint32_t index) override {
        log.push_back("remove " + std::to_string(index));
        if (index >= blocks.size())
            throw FakeExc(20, "Index out of range");
        blocks.erase(blocks.begin() + index);
    }
    void MoveUserBlock(uint32_t from, uint32_t to) override {
        log.push_back("move " + std::to_string(from) + " " + std::to_string(to));
    }
    void VerifyUserBlock(uint32_t index, const char* file) override {
        log.push_back("verify " + std::to_string(index));
        if (unreadable.count(file))
            throw FakeExc(kErrorCannotOpenFile, "Could not open the file");
        if (changed.count(file))
            throw FakeExc(28, "User block verify failed");
    }
    void SetUserBlockBootable(uint32_t index, bool bootable) override {
        blocks.at(index).record.bootable = bootable ? 1 : 0;
    }
    void SetBoot(bool on) override {
        log.push_back(on ? "boot on" : "boot off");
        boot = on;
    }
    void GetUserBlock(uint32_t index, BlockHeader* header, UserBlockRecord* record) override {
        const Block& block = blocks.at(index);
        *header = {};
        header->type = block.subType << 16 | 5;
        header->id = block.id;
        header->version = block.version;
        *record = block.record;
    }

    void Put(const char* file, uint32_t subType = 1, bool bootable = false) {
        Block block{subType, 0x10 + static_cast<uint32_t>(blocks.size()), 0x00010000, {}};
        std::snprintf(block.record.fileName, sizeof block.record.fileName, "%s", file);
        block.record.bootable = bootable ? 1 : 0;
        blocks.push_back(block);
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> files;
        for (const Block& block : blocks)
            files.push_back(block.File() + (block.record.bootable ? " (boot)" : ""));
        return files;
    }

    std::vector<Block> blocks;
    std::vector<std::string> log;
    std::set<std::string> unreadable;
    std::set<std::string> changed;
    bool boot = false;
};

BlockProperties Props(const char* file, BlockTypeIndex type = BlockTypeIndex::Executable,
                      bool bootable = false) {
    BlockProperties block;
    block.fileName = file;
    block.type = type;
    block.bootable = bootable;
    block.id = 7;
    block.major = 2;
    block.minor = 1;
    return block;
}

class UserBlockActionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        flash_.Put("a.out", 1, true);
        flash_.Put("b.bin", 16);
        flash_.Put("c.out");
    }
    BlockProperties PropertiesAt(uint32_t index) {
        UserBlockEntry entry;
        flash_.GetUserBlock(index, &entry.header, &entry.record);
        return PropertiesOf(entry);
    }
    BlockFlash flash_;
    CUserBlockActions actions_{flash_};
};

TEST_F(UserBlockActionsTest, UpdateOfABlockWhoseFileIsGoneKeepsTheBlock) {
    flash_.unreadable.insert("c.out");
    try {
        actions_.Update(2);
        FAIL() << "no error";
    } catch (const CFlashExc& e) {
        EXPECT_EQ(e.code, kErrorCannotOpenFile);
    }
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out (boot)", "b.bin", "c.out"));
    EXPECT_THAT(flash_.log, ElementsAre("verify 2", "add c.out at 2"));
}

TEST_F(UserBlockActionsTest, UpdateRebuildsAChangedBlockInItsPlaceWithItsAttributes) {
    flash_.changed.insert("a.out");
    EXPECT_TRUE(actions_.Update(0));
    EXPECT_FALSE(actions_.Update(1));
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out (boot)", "b.bin", "c.out"));
    EXPECT_EQ(flash_.blocks[0].id, 0x10u);
    EXPECT_EQ(flash_.blocks[0].version, 0x00010000u);
    EXPECT_EQ(flash_.blocks[0].subType, 1u);
    EXPECT_THAT(flash_.log, ElementsAre("verify 0", "add a.out at 0", "remove 1", "verify 1"));
}

TEST_F(UserBlockActionsTest, UpdateAllRebuildsEveryChangedBlockPastOneThatFails) {
    flash_.changed = {"a.out", "c.out"};
    flash_.unreadable = {"b.bin"};
    std::vector<uint32_t> failures;
    actions_.UpdateAll([&](const CFlashExc& e) { failures.push_back(e.code); });
    EXPECT_THAT(failures, ElementsAre(kErrorCannotOpenFile));
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out (boot)", "b.bin", "c.out"));
    EXPECT_THAT(flash_.log,
                ElementsAre("verify 0", "add a.out at 0", "remove 1", "verify 1", "add b.bin at 1",
                            "verify 2", "add c.out at 2", "remove 3"));
}

TEST_F(UserBlockActionsTest, AddOfABootableBlockMovesTheBootFlagOnlyOnceItWasAdded) {
    actions_.Add(Props("d.out", BlockTypeIndex::Executable, true), 1);
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out", "d.out (boot)", "b.bin", "c.out"));
    EXPECT_TRUE(flash_.boot);

    // A file that cannot be read leaves the flags and the boot switch alone.
    flash_.boot = false;
    flash_.unreadable.insert("e.out");
    EXPECT_THROW(actions_.Add(Props("e.out", BlockTypeIndex::Executable, true), -1), CFlashExc);
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out", "d.out (boot)", "b.bin", "c.out"));
    EXPECT_FALSE(flash_.boot);
}

TEST_F(UserBlockActionsTest, AddAppendsForMinusOneAndPastTheEnd) {
    actions_.Add(Props("d.out", BlockTypeIndex::Executable, true), -1);
    actions_.Add(Props("e.bin", BlockTypeIndex::RawData), 99);
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out", "b.bin", "c.out", "d.out (boot)", "e.bin"));
    EXPECT_EQ(flash_.blocks[3].subType, 1u);
    EXPECT_EQ(flash_.blocks[3].version, 0x00020001u);
    EXPECT_EQ(flash_.blocks[4].subType, 16u);
}

TEST_F(UserBlockActionsTest, EditOfTheIdIsMadeInPlace) {
    BlockProperties after = PropertiesAt(2);
    after.id = 0x99;
    actions_.Edit(2, PropertiesAt(2), after);
    EXPECT_THAT(flash_.log, ElementsAre("edit 2"));
    EXPECT_EQ(flash_.blocks[2].id, 0x99u);
}

TEST_F(UserBlockActionsTest, EditMakingABlockBootableClearsTheOthers) {
    BlockProperties after = PropertiesAt(2);
    after.bootable = true;
    actions_.Edit(2, PropertiesAt(2), after);
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out", "b.bin", "c.out (boot)"));
    EXPECT_THAT(flash_.log, ElementsAre("edit 2", "boot on"));
}

TEST_F(UserBlockActionsTest, EditOfTheFileRebuildsAtTheSameIndex) {
    BlockProperties after = PropertiesAt(2);
    after.fileName = "new.out";
    actions_.Edit(2, PropertiesAt(2), after);
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out (boot)", "b.bin", "new.out"));
    EXPECT_THAT(flash_.log, ElementsAre("add new.out at 2", "remove 3"));
    EXPECT_EQ(flash_.blocks[2].id, 0x12u);  // the id went with it
}

TEST_F(UserBlockActionsTest, EditToAnUnreadableFileKeepsTheBlockAndTheFlags) {
    flash_.unreadable.insert("gone.out");
    BlockProperties after = PropertiesAt(2);
    after.fileName = "gone.out";
    after.bootable = true;
    EXPECT_THROW(actions_.Edit(2, PropertiesAt(2), after), CFlashExc);
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out (boot)", "b.bin", "c.out"));
    EXPECT_FALSE(flash_.boot);
}

TEST_F(UserBlockActionsTest, DeleteStopsAtTheFirstError) {
    flash_.Put("d.out");
    flash_.Put("e.out");
    flash_.Put("f.out");
    actions_.Delete({2, 3, 5});
    EXPECT_THAT(flash_.log, ElementsAre("remove 2", "remove 2", "remove 3"));
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out (boot)", "b.bin", "e.out"));
    flash_.log.clear();
    EXPECT_THROW(actions_.Delete({2, 7, 8}), CFlashExc);
    EXPECT_THAT(flash_.log, ElementsAre("remove 2", "remove 6"));
}

TEST_F(UserBlockActionsTest, VerifyOutcomes) {
    flash_.unreadable.insert("b.bin");
    flash_.changed.insert("c.out");
    std::string file;
    EXPECT_EQ(actions_.Verify(0, file), VerifyOutcome::Verified);
    EXPECT_EQ(file, "a.out");
    EXPECT_EQ(actions_.Verify(1, file), VerifyOutcome::FileMissing);
    EXPECT_EQ(file, "b.bin");
    EXPECT_EQ(actions_.Verify(2, file), VerifyOutcome::Different);
}

TEST_F(UserBlockActionsTest, BootFromAndCancel) {
    actions_.BootFrom(2);
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out", "b.bin", "c.out (boot)"));
    EXPECT_TRUE(flash_.boot);
    actions_.CancelBoot(2);
    EXPECT_THAT(flash_.Files(), ElementsAre("a.out", "b.bin", "c.out"));
    EXPECT_FALSE(flash_.boot);
}

struct DropCase {
    const char* name;
    std::vector<std::string> files;
    int32_t at;
    std::vector<KovraMessage::Answer> answers;
    bool startBootable;
    std::vector<std::string> after;
    int questions;
};

void PrintTo(const DropCase& c, std::ostream* os) {
    *os << c.name;
}

class DropTest : public ::testing::TestWithParam<DropCase> {};

TEST_P(DropTest, InsertsInOrderAndAsksAboutBooting) {
    const DropCase& c = GetParam();
    BlockFlash flash;
    flash.Put("x.out", 1, c.startBootable);
    flash.Put("y.out");
    int questions = 0;
    std::vector<KovraMessage::Answer> answers = c.answers;
    CUserBlockActions(flash).Drop(c.files, c.at, [&](const KovraMessage& message) {
        EXPECT_EQ(message.caption, "Bootable block");
        ++questions;
        const KovraMessage::Answer answer = answers.empty() ? KovraMessage::Answer::No : answers[0];
        if (!answers.empty())
            answers.erase(answers.begin());
        return answer;
    });
    EXPECT_EQ(flash.Files(), c.after);
    EXPECT_EQ(questions, c.questions);
    for (const BlockFlash::Block& block : flash.blocks)
        if (block.File() != "x.out" && block.File() != "y.out") {
            EXPECT_EQ(block.id, 0u);
            EXPECT_EQ(block.version, 0x00010000u);
            EXPECT_EQ(block.record.bigEndian, 0u);
        }
}

using Answer = KovraMessage::Answer;

INSTANTIATE_TEST_SUITE_P(Drops, DropTest,
                         ::testing::Values(DropCase{"OnAnItem",
                                                    {"a.out", "b.hex"},
                                                    1,
                                                    {Answer::No, Answer::No},
                                                    false,
                                                    {"x.out", "a.out", "b.hex", "y.out"},
                                                    2},
                                           DropCase{"OnEmptySpace",
                                                    {"a.out", "b.hex"},
                                                    -1,
                                                    {},
                                                    true,
                                                    {"x.out (boot)", "y.out", "a.out", "b.hex"},
                                                    0},
                                           DropCase{"YesMakesTheFirstBootAndAsksNoMore",
                                                    {"a.out", "b.hex"},
                                                    0,
                                                    {Answer::Yes},
                                                    false,
                                                    {"a.out (boot)", "b.hex", "x.out", "y.out"},
                                                    1},
                                           DropCase{"CancelAddsWithoutBooting",
                                                    {"a.out"},
                                                    -1,
                                                    {Answer::Cancel},
                                                    false,
                                                    {"x.out", "y.out", "a.out"},
                                                    1},
                                           DropCase{"NoDotIsRawDataAndAsksNothing",
                                                    {"table"},
                                                    -1,
                                                    {},
                                                    false,
                                                    {"x.out", "y.out", "table"},
                                                    0},
                                           DropCase{"DottedFolderNoDotIsRawData",
                                                    {"v1.2/table"},
                                                    -1,
                                                    {},
                                                    false,
                                                    {"x.out", "y.out", "v1.2/table"},
                                                    0}),
                         kovra_test::CaseName());

TEST(DropErrors, AnErrorEndsTheDropAndKeepsWhatWasAdded) {
    BlockFlash flash;
    flash.unreadable.insert("b.bin");
    EXPECT_THROW(CUserBlockActions(flash).Drop({"a.bin", "b.bin", "c.bin"}, -1,
                                               [](const KovraMessage&) { return Answer::No; }),
                 CFlashExc);
    EXPECT_THAT(flash.Files(), ElementsAre("a.bin"));
}

}  // namespace
