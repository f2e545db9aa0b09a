#include "platform/Event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/CriticalSection.h"

namespace {

using namespace std::chrono_literals;
using qel::platform::Event;
using qel::platform::kWaitTimeout;
using qel::platform::WaitAny;

TEST(EventTest, AutoResetTakesTheSignalOnce) {
    Event e;
    EXPECT_FALSE(e.WaitFor(0ms));
    e.Set();
    e.Set();  // signals do not add up
    EXPECT_TRUE(e.WaitFor(0ms));
    EXPECT_FALSE(e.WaitFor(0ms));

    Event initially(true);
    EXPECT_TRUE(initially.WaitFor(0ms));
    initially.Set();
    initially.Reset();
    EXPECT_FALSE(initially.WaitFor(0ms));
}

TEST(EventTest, WaitReturnsWhenAnotherThreadSets) {
    Event request, done;
    std::thread worker([&] {
        request.Wait();
        done.Set();
    });
    request.Set();
    done.Wait();
    worker.join();
    EXPECT_FALSE(request.WaitFor(0ms));
}

// The first signalled event in the caller's order wins; the others keep
// their signal for the next wait.
TEST(EventTest, WaitAnyTakesEventsInPriorityOrder) {
    Event stop, command, idle;
    idle.Set();
    command.Set();
    stop.Set();
    EXPECT_EQ(WaitAny({&stop, &command, &idle}), 0);
    EXPECT_EQ(WaitAny({&stop, &command, &idle}), 1);
    EXPECT_EQ(WaitAny({&stop, &command, &idle}, 0ms), 2);
    EXPECT_EQ(WaitAny({&stop, &command, &idle}, 0ms), kWaitTimeout);

    idle.Set();
    command.Set();
    EXPECT_EQ(WaitAny({&idle, &command}), 0);  // the order given, not construction order
    EXPECT_TRUE(command.WaitFor(0ms));
}

TEST(EventTest, WaitAnyTimesOutAfterTheTimeout) {
    Event a, b;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitAny({&a, &b}, 30ms), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    EXPECT_FALSE(a.WaitFor(5ms));
    EXPECT_EQ(WaitAny(std::span<Event* const>{}, 1ms), kWaitTimeout);
}

TEST(EventTest, WaitAnyWakesForTheEventThatIsSet) {
    Event a, b, ready;
    int got = -2;
    std::thread waiter([&] {
        ready.Set();
        got = WaitAny({&a, &b});
    });
    ready.Wait();
    b.Set();
    waiter.join();
    EXPECT_EQ(got, 1);
    EXPECT_FALSE(b.WaitFor(0ms));
}

// Two threads hand a token back and forth many times; a lost wake-up would
// hang here, a double one would break the count.
TEST(EventTest, PingPongBetweenThreads) {
    constexpr int kRounds = 2000;
    Event ping, pong, stop;
    int served = 0;
    std::thread server([&] {
        while (WaitAny({&stop, &ping}) == 1) {
            ++served;
            pong.Set();
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        ping.Set();
        ASSERT_EQ(WaitAny({&pong}, std::chrono::milliseconds(60000)), 0);
    }
    stop.Set();
    server.join();
    EXPECT_EQ(served, kRounds);
}

// Several waiters on one event: each Set releases one of them.
TEST(EventTest, EachSetReleasesOneWaiter) {
    constexpr int kWaiters = 4;
    Event go, arrived;
    std::vector<std::thread> threads;
    for (int i = 0; i < kWaiters; ++i)
        threads.emplace_back([&] {
            go.Wait();
            arrived.Set();
        });
    for (int i = 0; i < kWaiters; ++i) {
        go.Set();
        arrived.Wait();
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(go.WaitFor(0ms));
}

TEST(CriticalSectionTest, RecursiveAndExclusive) {
    qel::platform::CriticalSection section;
    section.Enter();
    {
        qel::platform::CriticalSectionLock again(section);  // same thread may enter again
        bool other = true;
        std::thread([&] { other = section.TryEnter(); }).join();
        EXPECT_FALSE(other);
    }
    bool stillHeld = true;
    std::thread([&] { stillHeld = !section.TryEnter(); }).join();
    EXPECT_TRUE(stillHeld);  // entered twice, left once
    section.Leave();

    bool free = false;
    std::thread([&] {
        free = section.TryEnter();
        if (free)
            section.Leave();
    }).join();
    EXPECT_TRUE(free);
}

TEST(CriticalSectionTest, GuardsSharedStateAcrossThreads) {
    qel::platform::CriticalSection section;
    long total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                qel::platform::CriticalSectionLock lock(section);
                qel::platform::CriticalSectionLock nested(section);
                ++total;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(total, 40000);
}

}  // namespace
