// A small engine without threads for the records' tests: an IFSystem of named
// boards and processors, IFFlash objects whose getters serve prepared data
// and can be told to fail, a TIM database of a few descriptions, and a host
// that records what the records post and ask.
#pragma once

#include "tool/KovraCore.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kovra_test {

// Names parameterised tests after their case's `name` member.
struct CaseName {
    template <class Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& param) const {
        return param.param.name;
    }
};

struct FakeExc : CFlashExc {
    FakeExc(uint32_t c, const char* message = "Fake error", const char* src = "Fake",
            const char* det = "")
        : CFlashExc{} {
        code = c;
        line = 42;
        snprintf(source, sizeof source, "%s", src);
        snprintf(detail, sizeof detail, "%s", det);
        snprintf(text, sizeof text, "%s", message);
    }
    virtual ~FakeExc() = default;
    const char* GetMessage() const override { return text; }
    char text[64];
};

// Getter groups a FakeFlash can fail in.
enum class Group { TimType, BootLoader, Fpga, UserBlocks, Dynamics, Sizes, Modified };

class FakeFlash : public IFFlash {
  public:
    int Connect() override { return ++connects, -1; }
    bool IsModified() override {
        Fail(Group::Modified);
        return modified;
    }
    bool IsBlockModified(uint32_t position) override { return position == 1 && bootChanged; }
    int Commit() override { return ++commits, -1; }
    int SelectTimType(const char* name, uint32_t*) override {
        selected.push_back(name);
        return -1;
    }
    void GetTimType(uint32_t* code) override {
        Fail(Group::TimType);
        *code = timCode;
    }
    void GetDetectState(uint32_t* state) override { *state = 0; }
    int Erase() override { return -1; }
    void SetCallback(FlashCallback c, uintptr_t context) override {
        callback = c;
        callbackContext = context;
    }
    void GetCallback(FlashCallback* c, uintptr_t* context) override {
        *c = callback;
        *context = callbackContext;
    }
    void NotifyChanged() override {
        if (callback)
            callback(4, 0, 0, callbackContext);
    }
    void GetBlockCount(uint32_t* count) override { *count = 0; }
    void GetBlock(uint32_t, BlockHeader*, void*, uint32_t) override { throw FakeExc(22); }
    void SetBlockId(uint32_t, uint32_t) override {}
    void SetBlockVersion(uint32_t, uint32_t) override {}
    void SetBootLoader(const char*) override {}
    void GetBootLoaderInfo(BlockHeader* header, char* name, uint32_t* size) override {
        Fail(Group::BootLoader);
        *header = boot;
        snprintf(name, *size, "%s", bootName.c_str());
    }
    void GetDefaultLoader(char*, uint32_t*) override {}
    void SetBoot(bool) override {}
    bool IsBoot() override { return false; }
    void GetBootloaderPath(char*, uint32_t*) override {}
    void SetBitstream(const char*) override {}
    void GetFpgaBlock(BlockHeader* header, uint8_t* extra) override {
        Fail(Group::Fpga);
        *header = fpga;
        memset(extra, 0x5A, FPGA_RECORD_SIZE);
    }
    void GetBitstreamPath(char*, uint32_t*) override {}
    void GetDynamicCount(uint32_t* count) override {
        Fail(Group::Dynamics);
        *count = static_cast<uint32_t>(dynamics.size());
    }
    void GetDynamic(uint32_t index, uint32_t* address, uint32_t* value) override {
        *address = dynamics.at(index).address;
        *value = dynamics.at(index).value;
    }
    void AddDynamic(uint32_t, uint32_t) override {}
    void SetDynamic(uint32_t, uint32_t, uint32_t) override {}
    void RemoveDynamic(uint32_t) override {}
    void ClearDynamics() override {}
    void GetUserBlockCount(uint32_t* count) override {
        *count = static_cast<uint32_t>(userIds.size());
    }
    void AddUserBlock(uint32_t, const UserBlockRecord*, uint32_t, uint32_t, uint32_t,
                      int32_t) override {}
    void EditUserBlock(uint32_t, uint32_t, uint32_t, const UserBlockRecord*) override {}
    void RemoveUserBlock(uint32_t) override {}
    void MoveUserBlock(uint32_t, uint32_t) override {}
    void VerifyUserBlock(uint32_t, const char*) override {}
    void SetUserBlockBootable(uint32_t, bool) override {}
    void GetUserBlock(uint32_t index, BlockHeader* header, UserBlockRecord* record) override {
        if (failingUserBlock && *failingUserBlock == index)
            throw FakeExc(22, "Index out of range");
        *header = {};
        header->id = userIds.at(index);
        *record = {};
    }
    void GetFlashSize(uint32_t* bytes) override {
        Fail(Group::Sizes);
        *bytes = flashSize;
    }
    void GetUsedSize(uint32_t* bytes) override { *bytes = usedSize; }
    const CFlashExc* GetLastError() override { return &lastError; }

    void Fail(Group group) const {
        if (failing.count(group))
            throw FakeExc(30);
    }

    uint32_t timCode = 0;
    BlockHeader boot{};
    std::string bootName;
    bool bootChanged = false;
    BlockHeader fpga{};
    std::vector<uint32_t> userIds;
    std::optional<uint32_t> failingUserBlock;
    std::vector<DynamicEntry> dynamics;
    uint32_t flashSize = 0;
    uint32_t usedSize = 0;
    bool modified = false;
    std::set<Group> failing;
    FakeExc lastError{13, "Command failed", "C:\\src\\engine\\Flash.cpp", "programmer"};

    int connects = 0;
    int commits = 0;
    std::vector<std::string> selected;
    FlashCallback callback = nullptr;
    uintptr_t callbackContext = 0;
};

class FakeSystem : public IFSystem {
  public:
    struct Board {
        std::string name;
        std::vector<std::string> processors;
    };
    explicit FakeSystem(std::vector<Board> boards) : boards_(std::move(boards)) {
        for (const Board& board : boards_) {
            std::vector<std::unique_ptr<FakeFlash>> flashes;
            for (size_t p = 0; p < board.processors.size(); ++p)
                flashes.push_back(std::make_unique<FakeFlash>());
            flashes_.push_back(std::move(flashes));
        }
    }
    int GetState() override { return 2; }
    int Connect() override { return 1; }
    void GetBoardCount(int* count) override { *count = static_cast<int>(boards_.size()); }
    void GetBoardName(int board, char* buffer, int* size) override {
        Copy(boards_.at(board).name, buffer, size);
    }
    void GetProcessorCount(int board, int* count) override {
        *count = static_cast<int>(boards_.at(board).processors.size());
    }
    void GetProcessorName(int board, int processor, char* buffer, int* size) override {
        Copy(boards_.at(board).processors.at(processor), buffer, size);
    }
    IFFlash* GetFlash(int board, int processor) override {
        return flashes_.at(board).at(processor).get();
    }
    FakeFlash& Flash(int board, int processor) { return *flashes_.at(board).at(processor); }

  private:
    // As the engine does: a name that does not fit with its zero is error 21.
    static void Copy(const std::string& name, char* buffer, int* size) {
        if (static_cast<int>(name.size()) + 1 > *size) {
            *size = static_cast<int>(name.size()) + 1;
            throw FakeExc(21, "Buffer too small", "System");
        }
        memcpy(buffer, name.c_str(), name.size() + 1);
    }
    std::vector<Board> boards_;
    std::vector<std::vector<std::unique_ptr<FakeFlash>>> flashes_;
};

class FakeTim : public CQelTimRecord {
  public:
    FakeTim(std::string name, uint32_t code, std::map<std::string, int> ints)
        : name_(std::move(name)), code_(code), ints_(std::move(ints)) {}
    const char* Name() const override { return name_.c_str(); }
    uint32_t Code() const override { return code_; }
    int GetEntry(const char*, TIMRec*, int) const override { return 1; }
    int GetInt(const char* key, int) const override {
        auto found = ints_.find(key);
        if (found == ints_.end())
            throw except_int_not_found(key);
        return found->second;
    }
    const char* GetString(const char* key, const char*) const override {
        throw except_str_not_found(key);
    }

  private:
    std::string name_;
    uint32_t code_;
    std::map<std::string, int> ints_;
};

class FakeTimDatabase : public CQelTimInfo {
  public:
    void Add(const std::string& name, uint32_t code, std::map<std::string, int> ints) {
        tims_.push_back(std::make_unique<FakeTim>(name, code, std::move(ints)));
    }
    const char* Version() const override { return "fake"; }
    uint32_t Count() const override { return static_cast<uint32_t>(tims_.size()); }
    CQelTimRecord* FindByName(const char* name) const override {
        for (const auto& tim : tims_)
            if (name == std::string(tim->Name()))
                return tim.get();
        return nullptr;
    }
    CQelTimRecord* At(uint32_t index) const override { return tims_.at(index).get(); }
    const char* DataFolder() const override { return ""; }
    const char* NameOf(uint32_t code) const override {
        const CQelTimRecord* tim = Find(code);
        return tim ? tim->Name() : "Unknown TIM type";
    }
    CQelTimRecord* Find(uint32_t code) const override {
        for (const auto& tim : tims_)
            if (tim->Code() == code)
                return tim.get();
        return nullptr;
    }

  private:
    std::vector<std::unique_ptr<FakeTim>> tims_;
};

// Records posts and questions; answers from a queue, else the default answer.
class FakeHost : public IKovraHost {
  public:
    void Post(KovraCommand command) override {
        const std::lock_guard<std::mutex> guard(mutex_);
        posted.push_back(command);
    }
    KovraMessage::Answer Ask(const KovraMessage& message) override {
        const std::lock_guard<std::mutex> guard(mutex_);
        asked.push_back(message);
        if (answers.empty())
            return message.defaultAnswer;
        const KovraMessage::Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<KovraCommand> TakePosted() {
        const std::lock_guard<std::mutex> guard(mutex_);
        return std::exchange(posted, {});
    }
    int Count(KovraCommand command) const {
        int n = 0;
        for (KovraCommand c : posted) n += c == command;
        return n;
    }

    std::vector<KovraCommand> posted;
    std::vector<KovraMessage> asked;
    std::deque<KovraMessage::Answer> answers;

  private:
    std::mutex mutex_;
};

}  // namespace kovra_test
