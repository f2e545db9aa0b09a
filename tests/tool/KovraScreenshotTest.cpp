// Renders the main dialog on the default bench to <build>/screenshots:
// Kovra.png after the start (a programmed QT-6201 selected, a QT-6403 whose
// further processors have no ROM access) and Kovra-commit.png during a commit
// with the progress bar part-way, then the General, User blocks, Dynamics and
// Advanced pages after it and the page of a processor without ROM access.
// The build runs these.
#include "tests/tool/KovraDlgFixture.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QTabBar>
#include <QTest>

#include <filesystem>

#ifndef KOVRA_SCREENSHOT_DIR
#error KOVRA_SCREENSHOT_DIR names the folder of the screenshots
#endif

namespace {

class KovraScreenshot : public KovraDlgFixture {
  protected:
    void SetUp() override {
        KovraDlgFixture::SetUp();
        IFFlash* triple = bench_.Flash(0, 2);
        bench_.ConnectAndSelect(triple, "QT-6403");
        triple->SetBootLoader(nullptr);
        ASSERT_EQ(triple->Commit(), 0);
        ProgramFirstModule();
        std::filesystem::create_directories(KOVRA_SCREENSHOT_DIR);
    }
    void Save(const char* name) {
        const QString png = QStringLiteral(KOVRA_SCREENSHOT_DIR "/") + QLatin1String(name);
        const QPixmap picture = dlg_->grab();
        ASSERT_FALSE(picture.isNull());
        ASSERT_TRUE(picture.save(png, "PNG")) << png.toStdString();
        std::printf("Kovra screenshot: %s\n", qPrintable(png));
    }
};

TEST_F(KovraScreenshot, AfterStart) {
    Open();
    Save("Kovra.png");
}

TEST_F(KovraScreenshot, DuringCommit) {
    Open();
    const UserBlockRecord record =
        qel::e2e::UserRecord(bench_.WriteData("firmware.bin", 768 * 1024, 9));
    Record(0).flash->AddUserBlock(0x10, &record, 0x100, 1, 0, -1);
    const UserBlockRecord program =
        qel::e2e::UserRecord(bench_.WriteExecutable("control.out", 0x80001000, 24 * 1024, 3), true);
    Record(0).flash->AddUserBlock(0x01, &program, 0x200, 2, 1, 0);
    Record(0).flash->SetBoot(true);
    Record(0).flash->AddDynamic(0x01800000, 0x3300);
    Record(0).flash->AddDynamic(0x01800008, 0x20);
    Record(0).flash->AddDynamic(0x80000000, 0xFFFFFFFF);
    Record(0).flash->SetBitstream(nullptr);
    QCoreApplication::sendPostedEvents();  // Commit is enabled by the re-read
    bench_.Control()->SetFault(0, 0, qel::bench::Fault::ProgressLockstep, 10);
    // Held at the first notice that has a total: part-way as the bench runs
    // (its last notice at worst, so that the build never waits for a step
    // that does not come).
    gate_.HoldWhen([](int kind, int, intptr_t b) { return kind == 1 && b > 0; });
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Find<QPushButton>("buttonCommit")->isEnabled(); }, 120000));
    QTest::mouseClick(Find<QPushButton>("buttonCommit"), Qt::LeftButton);
    ASSERT_TRUE(dlg_->Core().AnyBusy()) << "the commit did not start";
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate_.Holding(); }, 120000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Progress() > 0; }, 120000));
    Save("Kovra-commit.png");
    gate_.Release();
    WaitUntilAllReady();

    // The pages after the programming job.
    auto* tabs = Find<QTabBar>("tabPages");
    tabs->setCurrentIndex(0);
    QCoreApplication::sendPostedEvents();
    Save("Kovra-general.png");
    tabs->setCurrentIndex(1);
    QCoreApplication::sendPostedEvents();
    Save("Kovra-userblocks.png");
    tabs->setCurrentIndex(2);
    QCoreApplication::sendPostedEvents();
    Save("Kovra-dynamics.png");
    tabs->setCurrentIndex(3);
    QCoreApplication::sendPostedEvents();
    Save("Kovra-advanced.png");
    Tree()->setCurrentItem(Tree()->topLevelItem(0)->child(3));  // CPU_3B, no ROM access
    QCoreApplication::sendPostedEvents();
    Save("Kovra-noaccess.png");
}

}  // namespace
