// Prompts for tests: told their next answers, they record every box and dialog shown.
#pragma once

#include <QList>
#include <QQueue>

#include "Prompts.h"

class FakePrompts : public Prompts {
public:
    QList<MessageRequest> messages;
    QList<SaveFileRequest> saveDialogs;
    QQueue<MessageAnswer> nextAnswers;  // Ok (or the first button) when empty
    QQueue<QString> nextFileNames;      // cancel when empty
    std::function<void(const MessageRequest&)> onMessage;

    MessageAnswer showMessage(const MessageRequest& request) override;
    QString askSaveFileName(const SaveFileRequest& request) override;

    QStringList texts() const;
};
