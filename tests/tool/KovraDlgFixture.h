// A Kovra dialog on the offscreen platform against the real engine on the
// default bench, in the test's own settings and bench state folders with the
// bench's timing off, with scripted prompts; and the few steps the tests take
// on it, done the way a user does them.
#pragma once

#include "EngineBench.h"
#include "tests/tool/ScriptedPrompts.h"
#include "tool/KovraApp.h"
#include "tool/KovraDlg.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>

// Holds an engine thread inside its flash notice until released, so that a
// test sees a command part-way without racing it.
class NoticeGate {
  public:
    // Holds the first notice for which `when` is true, once.
    void HoldWhen(std::function<bool(int kind, int a, intptr_t b)> when);
    void Release();
    // True once a notice is held.
    bool Holding();
    CKovraCore::NoticeObserver Observer();

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<bool(int, int, intptr_t)> when_;
    bool holding_ = false;
    bool released_ = false;
};

class KovraDlgFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Module 0 (QT-6201) programmed with the standard boot loader.
    void ProgramFirstModule();
    // Builds, shows and starts the dialog, then waits until the splash is
    // hidden and every processor is ready.
    CKovraDlg& Open();
    void WaitUntilAllReady();
    bool AllReady();

    template <typename T>
    T* Find(const char* name) const {
        T* widget = dlg_->findChild<T*>(QLatin1String(name));
        if (!widget)
            ADD_FAILURE() << "no control " << name;
        return widget;
    }
    void Click(const char* button);
    // Picks an entry of the General page's TIM type list as a user does.
    void ChooseTimType(const QString& name);
    // Commit, once the re-read enabled it, and wait until it is complete.
    void CommitAndWait();
    // The page of a tab: 0 General, 1 User blocks, 2 Dynamics, 3 Advanced.
    void ShowPage(int index);
    // Answers the next Dynamics add or edit dialog as a user types the two
    // texts; `seen` gets what it showed.
    void AnswerDynamic(const QString& address, const QString& value, QStringList* seen = nullptr);
    // The Dynamics list, "address value" per row.
    std::vector<std::string> DynamicRows();
    QTreeWidget* Tree() const { return Find<QTreeWidget>("treeCpus"); }
    // The image index each processor's tree item shows.
    std::vector<int> TreeImages() const;
    QString Text(const char* label) const { return Find<QLabel>(label)->text(); }
    int Progress() const { return Find<QProgressBar>("progressCommit")->value(); }
    CpuRecord& Record(size_t index) { return *dlg_->Core().Records().at(index); }
    CpuState StateOf(size_t index);

    qel::e2e::EngineBench bench_;
    CScriptedPrompts prompts_;
    std::unique_ptr<CKovraDlg> dlg_;
    NoticeGate gate_;
};
