// The root object as a caller binds it: states, enumeration, flash objects.
#include "EngineBench.h"
#include "engine/Exc.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace qel::e2e {
namespace {

// TelmarOpen/TelmarClose of the library, with the states the callback saw.
class RootObject {
  public:
    RootObject() : library_("Telmar.dll") {
        open_ = reinterpret_cast<TelmarOpenFn>(library_.Symbol("TelmarOpen"));
        close_ = reinterpret_cast<TelmarCloseFn>(library_.Symbol("TelmarClose"));
        system_ = open_(&RootObject::OnState, this, 0);
    }
    ~RootObject() { close_(system_); }

    IFSystem* operator->() const { return system_; }
    TelmarCloseFn Close() const { return close_; }

    // Connects and waits until `count` states have been reported in all.
    std::vector<int> ConnectAndWait(size_t count) {
        system_->Connect();
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return states_.size() >= count; });
        return states_;
    }

  private:
    static void OnState(void* context, int state) {
        auto* self = static_cast<RootObject*>(context);
        std::lock_guard<std::mutex> guard(self->mutex_);
        self->states_.push_back(state);
        self->changed_.notify_all();
    }

    qel::platform::DynamicLibrary library_;
    TelmarOpenFn open_ = nullptr;
    TelmarCloseFn close_ = nullptr;
    IFSystem* system_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> states_;
};

template <typename Fn>
uint32_t CodeOf(Fn&& fn) {
    try {
        fn();
    } catch (const CFlashExc& e) {
        return e.code;
    }
    return 0;
}

TEST(SystemTest, CloseOfNullDoesNothing) {
    EngineBench bench;
    RootObject root;
    root.Close()(nullptr);
}

TEST(SystemTest, FlashObjectsOnlyOnceConnected) {
    EngineBench bench;
    RootObject root;
    EXPECT_EQ(root->GetState(), 0);
    EXPECT_EQ(CodeOf([&] { root->GetFlash(0, 0); }), ERR_CCS_NOT_STARTED);
    EXPECT_EQ(root.ConnectAndWait(2), (std::vector<int>{1, 2}));
    EXPECT_EQ(root->GetState(), 2);

    int boards = 0, processors = 0;
    root->GetBoardCount(&boards);
    root->GetProcessorCount(0, &processors);
    EXPECT_EQ(boards, 1);
    EXPECT_EQ(processors, 10);  // the default bench: QT-6403 has three

    IFFlash* flash = root->GetFlash(0, 3);
    EXPECT_EQ(root->GetFlash(0, 3), flash);
    EXPECT_EQ(CodeOf([&] { root->GetFlash(0, processors); }), ERR_PROCESSOR_NOT_FOUND);
    EXPECT_EQ(CodeOf([&] { root->GetFlash(1, 0); }), ERR_BOARD_NOT_FOUND);

    // A second connect enumerates again; what was handed out stays found.
    EXPECT_EQ(root.ConnectAndWait(4), (std::vector<int>{1, 2, 1, 2}));
    EXPECT_EQ(root->GetFlash(0, 3), flash);
}

TEST(SystemTest, NamesFollowTheBufferRule) {
    EngineBench bench;
    RootObject root;
    root.ConnectAndWait(2);
    const std::string board = "QEL carrier board";
    std::vector<char> buffer(64, 'x');
    int size = static_cast<int>(board.size());  // no room for the zero
    EXPECT_EQ(CodeOf([&] { root->GetBoardName(0, buffer.data(), &size); }), ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, static_cast<int>(board.size()) + 1);
    root->GetBoardName(0, buffer.data(), &size);
    EXPECT_STREQ(buffer.data(), board.c_str());
    size = 0;  // asking for the size needed
    EXPECT_EQ(CodeOf([&] { root->GetBoardName(0, nullptr, &size); }), ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, static_cast<int>(board.size()) + 1);

    size = 64;
    root->GetProcessorName(0, 2, buffer.data(), &size);
    EXPECT_STREQ(buffer.data(), "CPU_3A");
    EXPECT_EQ(CodeOf([&] { root->GetProcessorName(0, 99, buffer.data(), &size); }),
              ERR_CCS_EXCEPTION);
}

}  // namespace
}  // namespace qel::e2e
