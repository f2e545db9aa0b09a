// The prompts seam as the dialog tests answer it: every message box is
// recorded and answered from a queue (else with its default answer), file
// dialogs from their own queue, About boxes counted. Nothing blocks.
#pragma once

#include "tool/KovraPrompts.h"

#include <gtest/gtest.h>

#include <deque>
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
};
