// The records and callbacks against the real engine on the default bench,
// without a window: this thread stands in for the user-interface thread and
// the engine's threads change the records and ask questions. Built for
// ThreadSanitizer too, where a record touched without its lock would show.
#include "EngineBench.h"
#include "tool/KovraCore.h"
#include "tool/TelmarLoad.h"

#include "QelTimInfoLoad.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

using Answer = KovraMessage::Answer;
using qel::e2e::EngineBench;
using Lock = qel::platform::CriticalSectionLock;

// Posts wake the waiting test; questions are answered on the asking thread.
class ThreadedHost : public IKovraHost {
  public:
    void Post(KovraCommand) override {
        {
            const std::lock_guard<std::mutex> guard(mutex_);
            ++posts_;
        }
        changed_.notify_all();
    }
    Answer Ask(const KovraMessage& message) override {
        const std::lock_guard<std::mutex> guard(mutex_);
        asked.push_back(message);
        if (answers.empty())
            return message.defaultAnswer;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    // Waits, posts after posts, until the condition holds; the deadline only
    // turns a hang into a failure.
    template <class Condition>
    bool WaitUntil(Condition condition) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(120), [&] {
            lock.unlock();
            const bool met = condition();
            lock.lock();
            return met;
        });
    }
    std::vector<KovraMessage> Asked() {
        const std::lock_guard<std::mutex> guard(mutex_);
        return asked;
    }

    std::deque<Answer> answers;
    std::vector<KovraMessage> asked;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int posts_ = 0;
};

CpuState StateOf(const CpuRecord& record) {
    const Lock guard(record.lock);
    return record.state;
}

class KovraEngineTest : public ::testing::Test {
  protected:
    // Module 0 (QT-6201) programmed with the standard boot loader, as a
    // module from the factory would be.
    void ProgramFirstModule() {
        IFFlash* flash = bench_.Flash(0, 0);
        bench_.ConnectAndSelect(flash, "QT-6201");
        flash->SetBootLoader(nullptr);
        ASSERT_EQ(flash->Commit(), 0) << qel::e2e::Describe(flash->GetLastError());
        bench_.Close();
    }
    void Start() {
        core_ = std::make_unique<CKovraCore>(host_, database_);
        core_->SetNoticeObserver([this](CpuRecord&, int kind, int, intptr_t b) {
            if (kind == 1)
                highestTotal_.store(std::max(highestTotal_.load(), static_cast<uint32_t>(b)));
        });
        system_ = telmar_.Open(&CKovraCore::StateCallback, core_.get(), 0);
        ASSERT_NE(system_, nullptr);
        core_->SetSystem(system_);
        system_->Connect();
        ASSERT_TRUE(host_.WaitUntil([&] { return core_->Enumerated() && AllReady(); }));
    }
    bool AllReady() {
        for (CpuRecord* record : core_->Records())
            if (StateOf(*record) != CpuState::Ready)
                return false;
        return true;
    }
    void TearDown() override {
        telmar_.Close(system_);
        if (core_)
            core_->ClearRecords();
        if (database_)
            timBinder_.QelTimInfoClose(database_);
    }
    CpuRecord& Record(size_t index) { return *core_->Records().at(index); }

    EngineBench bench_;
    ThreadedHost host_;
    CQelTimInfoLoad timBinder_;
    CQelTimInfo* database_ = timBinder_.QelTimInfoOpen(0);
    CTelmarLoad telmar_{[](const std::string& text, const std::string&) { FAIL() << text; }};
    std::unique_ptr<CKovraCore> core_;
    IFSystem* system_ = nullptr;
    std::atomic<uint32_t> highestTotal_{0};
};

TEST_F(KovraEngineTest, StartSelectsTheTimReadFromAProgrammedModule) {
    ProgramFirstModule();
    Start();
    ASSERT_EQ(core_->Records().size(), 10u);
    EXPECT_EQ(Record(0).name, "QEL carrier board : CPU_1");
    {
        const Lock guard(Record(0).lock);
        EXPECT_EQ(Record(0).timCode, 0x11u);
        EXPECT_TRUE(Record(0).dataRead);
        EXPECT_NE(Record(0).bootHeader.version, 0u);
        EXPECT_FALSE(Record(0).modified);
        EXPECT_GT(Record(0).flashSize, 0u);
    }
    EXPECT_TRUE(host_.Asked().empty());
}

TEST_F(KovraEngineTest, CommitReportsProgressAndRereads) {
    ProgramFirstModule();
    Start();
    CpuRecord& record = Record(0);
    core_->SetCurrent(&record);
    // An edit on this thread: the change notice re-reads here, at once.
    record.flash->AddDynamic(0x80000000, 1234);
    {
        const Lock guard(record.lock);
        EXPECT_TRUE(record.modified);
        ASSERT_EQ(record.dynamics.size(), 1u);
    }
    core_->SetTreeStates();
    ASSERT_TRUE(core_->AnyCommittable());
    core_->Commit();
    EXPECT_EQ(StateOf(record), CpuState::Busy);
    ASSERT_TRUE(host_.WaitUntil([&] { return StateOf(record) == CpuState::Ready; }));
    EXPECT_GT(highestTotal_.load(), 0u);
    const Lock guard(record.lock);
    EXPECT_FALSE(record.modified);
    ASSERT_EQ(record.dynamics.size(), 1u);
    EXPECT_EQ(record.dynamics[0].value, 1234u);
    EXPECT_TRUE(host_.Asked().empty());
}

TEST_F(KovraEngineTest, QuestionOnTheWorkerAnsweredNoKeepsTheTim) {
    ProgramFirstModule();
    Start();
    CpuRecord& record = Record(0);
    core_->SetCurrent(&record);
    host_.answers.push_back(Answer::No);
    core_->SelectTim(record, "QT-6202C");
    ASSERT_TRUE(host_.WaitUntil([&] { return StateOf(record) == CpuState::Ready; }));
    const std::vector<KovraMessage> asked = host_.Asked();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].caption, "Changing TIM type");
    EXPECT_NE(asked[0].text.find("programmed as an QT-6201."), std::string::npos) << asked[0].text;
    core_->FlashCallbackOn(record);  // a fresh read of what the engine holds
    const Lock guard(record.lock);
    EXPECT_EQ(record.timCode, 0x11u);
    EXPECT_FALSE(record.modified);
}

TEST_F(KovraEngineTest, FailedCommandShowsTheErrorAndReturnsToReady) {
    ProgramFirstModule();
    Start();
    CpuRecord& record = Record(0);
    record.flash->AddDynamic(0x80000000, 1);
    bench_.Control()->SetFault(0, 0, qel::bench::Fault::FailLoad, 100);
    core_->Commit();
    ASSERT_TRUE(host_.WaitUntil([&] { return StateOf(record) == CpuState::Ready; }));
    bench_.Control()->ClearFaults(0, 0);
    const std::vector<KovraMessage> asked = host_.Asked();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].caption, "Exception");
    EXPECT_EQ(asked[0].text.rfind("The following exception occured:\n\n", 0), 0u);
}

}  // namespace
