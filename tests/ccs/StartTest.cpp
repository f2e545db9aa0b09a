// Attaching to or starting the bench server, with the settings key and the
// message output replaced by recorders.
#include "bench/include/QelBench.h"
#include "engine/ccs/CCSWrappers.h"
#include "tests/fixtures/TestTempDir.h"

#include <gtest/gtest.h>

#include "platform/SettingsHive.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace qel::bench;

class RecordingSettings : public qel::ccs::CStartSettings {
  public:
    bool Open() override {
        log.push_back("Open");
        return exists;
    }
    void DeleteRealtimeStart() override { log.push_back("Delete"); }
    void SetRealtimeStart() override { log.push_back("Set"); }
    void Close() override { log.push_back("Close"); }

    bool exists = true;
    std::vector<std::string> log;
};

std::vector<std::string> g_messages;
void RecordMessage(const char* caption, const char* text) {
    g_messages.push_back(std::string(caption) + "|" + text);
}

const std::string kAlreadyStarted =
    "Code Composer|Could not start in realtime mode.\nCode Composer already started.";
const std::string kNotSetUp =
    "Code Composer|Could not start in realtime mode.\nCode Composer not set up properly.";

class StartTest : public testing::Test {
  protected:
    void SetUp() override {
        // Servers made by Start find their state through the environment.
        setenv("QEL4410_BENCH_STATE", dir.Path().c_str(), 1);
        unsetenv("QEL4410_BENCH");
        qel::ccs::SetStartSettings(&settings);
        qel::ccs::SetMessageBox(&RecordMessage);
        g_messages.clear();
        options.stateFolder = dir.Path();
        IApplication* probe = nullptr;
        if (QelBenchCreate(options, &probe) == kClassNotRegistered)
            GTEST_SKIP() << "no bench server in this build";
        probe->Release();
    }
    void TearDown() override {
        qel::ccs::SetStartSettings(nullptr);
        qel::ccs::SetMessageBox(nullptr);
    }
    // A server of the test's own; registered as this process's active one or not.
    CCApplication Server(bool active) {
        options.registerActive = active;
        IApplication* raw = nullptr;
        EXPECT_EQ(QelBenchCreate(options, &raw), kOk);
        return CCApplication(raw, false);
    }
    static bool ActiveExists() {
        IUnknown* active = nullptr;
        if (Failed(QelBenchGetActiveObject(kClsidApplication, &active)))
            return false;
        active->Release();
        return true;
    }

    qel::fixtures::TestTempDir dir;
    RecordingSettings settings;
    BenchOptions options;
};

TEST_F(StartTest, AttachesToTheRunningServerAndDeletesTheValue) {
    CCApplication running = Server(true);
    CCApplication app = CCApplication::Start(false);
    EXPECT_EQ(app.GetInterface(), running.GetInterface()) << "no second server";
    EXPECT_TRUE(app.AllConnected());
    EXPECT_EQ(settings.log, (std::vector<std::string>{"Open", "Delete", "Close"}));
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(StartTest, CreatesAServerWhenNoneRuns) {
    settings.exists = false;
    ASSERT_FALSE(ActiveExists());
    CCApplication app = CCApplication::Start(false);
    EXPECT_TRUE(app.IsValid());
    EXPECT_TRUE(ActiveExists()) << "the created server becomes the active one";
    EXPECT_EQ(app.GetDspBoards().Item(0).GetName(), "QEL carrier board");
    EXPECT_EQ(settings.log, (std::vector<std::string>{"Open"}));
    EXPECT_TRUE(g_messages.empty());
    // The next start attaches to it.
    CCApplication again = CCApplication::Start(false);
    EXPECT_EQ(again.GetInterface(), app.GetInterface());
}

TEST_F(StartTest, RealtimeWhileRunningSaysSoAndAttaches) {
    CCApplication running = Server(true);
    CCApplication app = CCApplication::Start(true);
    EXPECT_EQ(app.GetInterface(), running.GetInterface());
    EXPECT_EQ(g_messages, std::vector<std::string>{kAlreadyStarted});
    EXPECT_EQ(settings.log, (std::vector<std::string>{"Open", "Delete", "Close"}));
}

TEST_F(StartTest, RealtimeWhileTheLockIsHeldElsewhereSaysSoAndCreates) {
    // A server that is not this process's active one still holds the lock.
    CCApplication elsewhere = Server(false);
    ASSERT_TRUE(QelBenchNamedLockExists(QelBenchLockName()));
    CCApplication app = CCApplication::Start(true);
    EXPECT_TRUE(app.IsValid());
    EXPECT_NE(app.GetInterface(), elsewhere.GetInterface());
    EXPECT_EQ(g_messages, std::vector<std::string>{kAlreadyStarted});
    EXPECT_EQ(settings.log, (std::vector<std::string>{"Open", "Delete", "Close"}));
}

TEST_F(StartTest, RealtimeStartSetsTheValueAroundTheCreation) {
    CCApplication app = CCApplication::Start(true);
    EXPECT_TRUE(app.IsValid());
    EXPECT_TRUE(g_messages.empty());
    EXPECT_EQ(settings.log, (std::vector<std::string>{"Open", "Delete", "Set", "Delete", "Close"}));
}

TEST_F(StartTest, RealtimeWithoutTheKeySaysSoAndStartsNormally) {
    settings.exists = false;
    CCApplication app = CCApplication::Start(true);
    EXPECT_TRUE(app.IsValid());
    EXPECT_EQ(g_messages, std::vector<std::string>{kNotSetUp});
    VariantBool realtime = kVariantTrue;
    IBenchControl* control = nullptr;
    ASSERT_EQ(
        app.GetInterface()->QueryInterface(IBenchControl::kIid, reinterpret_cast<void**>(&control)),
        kOk);
    EXPECT_EQ(control->GetRealtime(&realtime), kOk);
    EXPECT_EQ(realtime, kVariantFalse);
    control->Release();
}

TEST_F(StartTest, ServerThatCannotStartThrowsItsCode) {
    setenv("QEL4410_BENCH", (dir.Path() + "/missing-description.txt").c_str(), 1);
    try {
        CCApplication::Start(false);
        ADD_FAILURE() << "started without a description";
    } catch (const CCException& e) {
        EXPECT_EQ(e.Code(), kBadDescription);
    }
    unsetenv("QEL4410_BENCH");
}

// The real settings key of this user: the server sees the realtime request
// while it starts, and the request is gone afterwards.
TEST_F(StartTest, RealtimeRequestReachesTheServerThroughTheUserSettings) {
    using qel::platform::Hive;
    using qel::platform::KeyAccess;
    using qel::platform::SettingsKey;
    setenv("QEL4410_REGISTRY", (dir.Path() + "/registry").c_str(), 1);
    qel::ccs::SetStartSettings(nullptr);
    ASSERT_TRUE(SettingsKey::Open(Hive::CurrentUser, kSettingsKey, KeyAccess::ReadWrite));
    CCApplication app = CCApplication::Start(true);
    IBenchControl* control = nullptr;
    ASSERT_EQ(
        app.GetInterface()->QueryInterface(IBenchControl::kIid, reinterpret_cast<void**>(&control)),
        kOk);
    VariantBool realtime = kVariantFalse;
    EXPECT_EQ(control->GetRealtime(&realtime), kOk);
    EXPECT_EQ(realtime, kVariantTrue);
    control->Release();
    auto key = SettingsKey::Open(Hive::CurrentUser, kSettingsKey, KeyAccess::Read);
    ASSERT_TRUE(key);
    std::vector<uint8_t> value;
    EXPECT_EQ(key->GetBinary(kRealtimeValue, value), SettingsKey::kNotFound)
        << "no realtime request is left behind";
    unsetenv("QEL4410_REGISTRY");
}

}  // namespace
