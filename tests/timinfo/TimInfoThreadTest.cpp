// Every flash object opens its own database on its own worker, so opening
// and reading must hold up when done from several threads at once.
#include "QelTimInfo.h"
#include "tests/timinfo/TimInfoTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace qel::timinfo::test {
namespace {

constexpr int kThreads = 6;

TEST(TimInfoThreadTest, ConcurrentOpensEachGetACompleteDatabase) {
    DataVariable unset(nullptr);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&good] {
            for (int round = 0; round < 5; ++round) {
                CQelTimInfo* database = QelTimInfoOpen(0);
                if (database && database->Count() == 8 &&
                    database->Find(0x29) == database->FindByName("QT-6415W"))
                    ++good;
                QelTimInfoClose(database);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(good.load(), kThreads * 5);
}

TEST(TimInfoThreadTest, OneDatabaseIsReadFromManyThreads) {
    DataVariable unset(nullptr);
    CQelTimInfo* database = QelTimInfoOpen(0);
    ASSERT_NE(database, nullptr);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&good, database] {
            for (uint32_t i = 0; i < database->Count(); ++i) {
                const CQelTimRecord* record = database->At(i);
                TIMRec entry(0);
                int entries = 0;
                while (record->GetEntry("Memory", &entry, entries) == 0) ++entries;
                if (entries > 0 &&
                    std::string(database->NameOf(record->Code())) == record->Name() &&
                    record->GetInt("TimType", 0) == static_cast<int>(record->Code()))
                    ++good;
                try {
                    record->GetString("Absent", nullptr);
                } catch (const except_str_not_found&) {
                    ++good;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(good.load(), kThreads * 2 * static_cast<int>(database->Count()));
    QelTimInfoClose(database);
}

}  // namespace
}  // namespace qel::timinfo::test
