// A Gorlin dialog on the offscreen platform with its own settings folder and
// scripted prompts, and the few steps the tests take on it, done the way a
// user does them (clicks, keys).
#pragma once

#include "builder/GorlinDlg.h"
#include "tests/builder/ScriptedPrompts.h"
#include "tests/fixtures/BitstreamFixtures.h"
#include "tests/fixtures/TestTempDir.h"

#include "RegEdit.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

class GorlinDlgFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string registry = dir_.File("registry");
        std::filesystem::create_directories(registry);
        qputenv("QEL4410_REGISTRY", QByteArray::fromStdString(registry));
    }
    void TearDown() override {
        dlg_.reset();
        qunsetenv("QEL4410_REGISTRY");
    }

    // Builds and shows the dialog, then lets it finish starting (the stored
    // SBF is read from the event loop).
    CGorlinDlg& Open() {
        dlg_ = std::make_unique<CGorlinDlg>(prompts_);
        dlg_->show();
        dlg_->activateWindow();  // keys, shortcuts and focus as on a desktop
        EXPECT_TRUE(QTest::qWaitForWindowActive(dlg_.get()));
        QCoreApplication::sendPostedEvents(dlg_.get(), QEvent::MetaCall);
        return *dlg_;
    }

    template <typename T>
    T* Find(const char* name) const {
        T* widget = dlg_->findChild<T*>(QLatin1String(name));
        if (!widget)
            ADD_FAILURE() << "no control " << name;
        return widget;
    }
    QLineEdit* Edit(const char* name) const { return Find<QLineEdit>(name); }
    QString Text(const char* name) const {
        if (auto* line = dlg_->findChild<QLineEdit*>(QLatin1String(name)))
            return line->text();
        return Find<QPlainTextEdit>(name)->toPlainText();
    }
    void Click(const char* button) {
        QAbstractButton* target = Find<QAbstractButton>(button);
        // A check box takes clicks on its box and text only, not in the
        // middle of its cell.
        const QPoint at = qobject_cast<QCheckBox*>(target) ? QPoint(6, target->height() / 2)
                                                           : target->rect().center();
        QTest::mouseClick(target, Qt::LeftButton, {}, at);
    }
    // Focus, then keys, as a user types: replaces a line's text, appends to
    // a multi-line box.
    void Type(const char* edit, const QString& text) {
        QWidget* box = Find<QWidget>(edit);
        box->setFocus(Qt::MouseFocusReason);
        if (auto* line = qobject_cast<QLineEdit*>(box))
            line->selectAll();
        QTest::keyClicks(box, text);
    }
    // The file dialog answers path; then the "..." button is clicked.
    void Browse(const char* button, const std::string& path) {
        prompts_.answers.push_back(QString::fromStdString(path));
        Click(button);
    }

    QTreeWidget* Tree() const { return Find<QTreeWidget>("treeTargets"); }
    QTreeWidgetItem* Target(const QString& name) const {
        const QList<QTreeWidgetItem*> found =
            Tree()->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        if (found.size() != 1)
            ADD_FAILURE() << "no single tree item " << name.toStdString();
        return found.value(0);
    }
    // Space on the item, as a user toggles a check box from the keyboard.
    void Toggle(const QString& name) {
        Tree()->setFocus();
        Tree()->setCurrentItem(Target(name));
        QTest::keyClick(Tree(), Qt::Key_Space);
    }
    QStringList TreeNames(bool checkedOnly) const {
        QStringList names;
        QTreeWidgetItem* root = Tree()->topLevelItem(0);
        for (int i = 0; root && i < root->childCount(); ++i)
            if (!checkedOnly || root->child(i)->checkState(0) == Qt::Checked)
                names << root->child(i)->text(0);
        return names;
    }

    // "success", "failure", or empty while the status icon is hidden.
    QString Status() const {
        QLabel* icon = Find<QLabel>("statusIcon");
        return icon->isVisible() ? icon->property("status").toString() : QString();
    }

    std::string WriteBit(const std::string& name, const qel::fixtures::BitHeader& header = {}) {
        const std::string path = dir_.File(name);
        qel::fixtures::WriteFile(
            path, qel::fixtures::MakeBitFile(header, qel::fixtures::MakeBitstreamBody(8192)));
        return path;
    }

    static std::optional<std::string> StoredSbf() {
        std::string value;
        if (CRegEdit(kGorlinSettingsKey, kGorlinSettingsApp).GetString(kGorlinSbfValue, value) !=
            CRegEdit::Done)
            return std::nullopt;
        return value;
    }

    qel::fixtures::TestTempDir dir_;
    CScriptedPrompts prompts_;
    std::unique_ptr<CGorlinDlg> dlg_;
};
