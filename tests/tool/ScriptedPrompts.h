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
#include <utility>
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
    // Records the menu's items ("text" or "text (greyed)", a sub-menu's as
    // "menu/text") and triggers the next chosen text; an empty choice closes
    // the menu.
    void Menu(QMenu& menu, const QPoint&) override {
        QStringList items;
        std::vector<std::pair<QString, QAction*>> leaves;
        Collect(menu, QString(), items, leaves);
        menus.push_back(items);
        const QString choice = menuChoices.empty() ? QString() : menuChoices.front();
        if (!menuChoices.empty())
            menuChoices.pop_front();
        for (const auto& [text, action] : leaves)
            if (!choice.isEmpty() && text == choice && action->isEnabled())
                action->trigger();
    }

    static void Collect(QMenu& menu, const QString& prefix, QStringList& items,
                        std::vector<std::pair<QString, QAction*>>& leaves) {
        for (QAction* action : menu.actions()) {
            const QString text = prefix + action->text();
            items << text + (action->isEnabled() ? "" : " (greyed)");
            if (action->menu()) {
                Collect(*action->menu(), text + "/", items, leaves);
            } else {
                leaves.emplace_back(text, action);
            }
        }
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
