// The prompts seam as the dialog tests answer it: every message box is
// recorded and answered from a queue (else with its default answer), file
// dialogs from their own queue, About boxes counted. Nothing blocks.
#pragma once

#include "tool/KovraPrompts.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QMenu>

#include <deque>
#include <functional>
#include <string>
#include <vector>

class CScriptedPrompts : public IKovraPrompts {
  public:
    KovraMessage::Answer Message(QWidget*, const KovraMessage& message) override {
        messages.push_back(message);
        if (answers.empty())
            return message.defaultAnswer;
        const KovraMessage::Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    QString OpenFile(QWidget*, const FileQuery& query) override {
        queries.push_back(query);
        if (files.empty()) {
            ADD_FAILURE() << "file dialog \"" << query.title.toStdString() << "\" not expected";
            return {};
        }
        const QString file = files.front();
        files.pop_front();
        return file;
    }
    void About(QWidget*) override { ++aboutBoxes; }
    int Exec(QDialog& dialog) override {
        if (dialogs.empty()) {
            ADD_FAILURE() << "dialog \"" << dialog.windowTitle().toStdString() << "\" not expected";
            return QDialog::Rejected;
        }
        const std::function<int(QDialog&)> answer = dialogs.front();
        dialogs.pop_front();
        return answer(dialog);
    }
    // Records the menu's items ("text" or "text (greyed)") and triggers the
    // next chosen text; an empty choice closes the menu.
    void Menu(QMenu& menu, const QPoint&) override {
        QStringList items;
        for (QAction* action : menu.actions())
            items << action->text() + (action->isEnabled() ? "" : " (greyed)");
        menus.push_back(items);
        const QString choice = menuChoices.empty() ? QString() : menuChoices.front();
        if (!menuChoices.empty())
            menuChoices.pop_front();
        for (QAction* action : menu.actions())
            if (!choice.isEmpty() && action->text() == choice && action->isEnabled())
                action->trigger();
    }

    std::vector<std::string> Captions() const {
        std::vector<std::string> captions;
        for (const KovraMessage& m : messages) captions.push_back(m.caption);
        return captions;
    }

    std::vector<KovraMessage> messages;
    std::deque<KovraMessage::Answer> answers;
    std::vector<FileQuery> queries;
    std::deque<QString> files;
    int aboutBoxes = 0;
    // Each fills the dialog as a user would and returns its result.
    std::deque<std::function<int(QDialog&)>> dialogs;
    std::vector<QStringList> menus;
    std::deque<QString> menuChoices;
};
