#include "tests/tool/KovraDlgFixture.h"

#include "RegEdit.h"
#include "tool/Splash.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>

namespace {

constexpr int kWaitMs = 120000;  // a hang becomes a failure, nothing more

}  // namespace

void NoticeGate::HoldWhen(std::function<bool(int, int, intptr_t)> when) {
    const std::lock_guard<std::mutex> guard(mutex_);
    when_ = std::move(when);
    holding_ = false;
    released_ = false;
}

void NoticeGate::Release() {
    {
        const std::lock_guard<std::mutex> guard(mutex_);
        released_ = true;
        when_ = nullptr;
    }
    changed_.notify_all();
}

bool NoticeGate::Holding() {
    const std::lock_guard<std::mutex> guard(mutex_);
    return holding_;
}

CKovraCore::NoticeObserver NoticeGate::Observer() {
    return [this](CpuRecord&, int kind, int a, intptr_t b) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!when_ || released_ || !when_(kind, a, b))
            return;
        when_ = nullptr;
        holding_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
        holding_ = false;
    };
}

void KovraDlgFixture::SetUp() {
    // The manual beside the test program, as kovra-setup records it.
    const std::string manual =
        qel::platform::DynamicLibrary::ExecutableFolder() + "/help/Kovra.html";
    CRegEdit(kKovraSettingsKey, kKovraSettingsApp).SetString("Help", manual);
}

void KovraDlgFixture::TearDown() {
    gate_.Release();  // an engine thread held by a failed test goes on
    dlg_.reset();
}

void KovraDlgFixture::ProgramFirstModule() {
    IFFlash* flash = bench_.Flash(0, 0);
    bench_.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    ASSERT_EQ(flash->Commit(), 0) << qel::e2e::Describe(flash->GetLastError());
    bench_.Close();
}

CKovraDlg& KovraDlgFixture::Open() {
    dlg_ = CreateKovraDlg(prompts_);
    if (!dlg_) {
        ADD_FAILURE() << "the dialog could not be made";
        throw std::runtime_error("no dialog");
    }
    dlg_->show();
    dlg_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dlg_.get()));
    dlg_->SetNoticeObserver(gate_.Observer());
    EXPECT_TRUE(dlg_->Initialise());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg_->Splash()->isVisible(); }, kWaitMs));
    WaitUntilAllReady();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg_->isActiveWindow(); }, kWaitMs));
    return *dlg_;
}

CpuState KovraDlgFixture::StateOf(size_t index) {
    CpuRecord& record = Record(index);
    const qel::platform::CriticalSectionLock guard(record.lock);
    return record.state;
}

bool KovraDlgFixture::AllReady() {
    const std::vector<CpuRecord*> records = dlg_->Core().Records();
    if (records.empty() || !dlg_->Core().Enumerated())
        return false;
    for (size_t i = 0; i < records.size(); ++i)
        if (StateOf(i) != CpuState::Ready)
            return false;
    return true;
}

void KovraDlgFixture::WaitUntilAllReady() {
    // Ready records, and the dialog has drawn what they say.
    ASSERT_TRUE(QTest::qWaitFor([&] { return AllReady() && !dlg_->IsBusy(); }, kWaitMs));
    QCoreApplication::sendPostedEvents();
}

void KovraDlgFixture::Click(const char* button) {
    QAbstractButton* target = Find<QAbstractButton>(button);
    // A check box takes clicks on its box and text only.
    const QPoint at = qobject_cast<QCheckBox*>(target) ? QPoint(6, target->height() / 2)
                                                       : target->rect().center();
    QTest::mouseClick(target, Qt::LeftButton, {}, at);
}

void KovraDlgFixture::ChooseTimType(const QString& name) {
    auto* combo = Find<QComboBox>("comboTimType");
    const int index = combo->findText(name);
    ASSERT_GE(index, 0) << name.toStdString();
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

void KovraDlgFixture::CommitAndWait() {
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Find<QPushButton>("buttonCommit")->isEnabled(); }, kWaitMs));
    Click("buttonCommit");
    WaitUntilAllReady();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Text("labelPercentage") == "Complete"; }, kWaitMs));
}

void KovraDlgFixture::ShowPage(int index) {
    static const char* const names[] = {"pageGeneral", "pageUserBlocks", "pageDynamics",
                                        "pageAdvanced"};
    Find<QTabBar>("tabPages")->setCurrentIndex(index);
    ASSERT_TRUE(Find<QWidget>(names[index])->isVisible());
}

void KovraDlgFixture::AnswerDynamic(const QString& address, const QString& value,
                                    QStringList* seen) {
    prompts_.dialogs.push_back([=](QDialog& dialog) {
        auto* a = dialog.findChild<QLineEdit*>("editAddress");
        auto* v = dialog.findChild<QLineEdit*>("editValue");
        EXPECT_EQ(dialog.windowTitle(), "Add a dynamic value");
        if (seen)
            *seen = {a->text(), v->text()};
        a->setText(address);
        v->setText(value);
        dialog.accept();
        return dialog.result();
    });
}

std::vector<std::string> KovraDlgFixture::DynamicRows() {
    QCoreApplication::sendPostedEvents();
    auto* list = Find<QTreeWidget>("listDynamics");
    std::vector<std::string> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows.push_back(
            (list->topLevelItem(i)->text(0) + " " + list->topLevelItem(i)->text(1)).toStdString());
    return rows;
}

std::vector<int> KovraDlgFixture::TreeImages() const {
    std::vector<int> images;
    QTreeWidgetItem* root = Tree()->topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i)
        images.push_back(root->child(i)->data(0, Qt::UserRole + 1).toInt());
    return images;
}
