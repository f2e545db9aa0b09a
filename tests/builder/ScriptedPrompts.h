// The prompts seam as the dialog tests answer it: messages and About boxes are
// recorded, file dialogs take their answers from a queue. Nothing blocks.
#pragma once

#include "builder/GorlinPrompts.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

struct ShownMessage {
    QString text;
    QString caption;
    IGorlinPrompts::Icon icon;
    bool operator==(const ShownMessage&) const = default;
};

inline void PrintTo(const ShownMessage& m, std::ostream* os) {
    *os << '"' << m.text.toStdString() << "\" / \"" << m.caption.toStdString() << "\" / "
        << (m.icon == IGorlinPrompts::Icon::Error ? "error" : "information");
}

class CScriptedPrompts : public IGorlinPrompts {
  public:
    void Message(QWidget*, const QString& text, const QString& caption, Icon icon) override {
        messages.push_back({text, caption, icon});
    }
    QString OpenFile(QWidget*, const FileQuery& query) override {
        queries.push_back(query);
        if (answers.empty()) {
            ADD_FAILURE() << "file dialog \"" << query.title.toStdString() << "\" not expected";
            return {};
        }
        const QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void About(QWidget*) override { ++aboutBoxes; }

    std::vector<ShownMessage> messages;
    std::vector<FileQuery> queries;
    std::deque<QString> answers;  // an empty answer cancels
    int aboutBoxes = 0;
};
