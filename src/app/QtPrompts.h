// The program's prompts: Qt's message boxes and save dialog, modal to the active window.
#pragma once

#include "Prompts.h"

class QtPrompts : public Prompts {
public:
    MessageAnswer showMessage(const MessageRequest& request) override;
    QString askSaveFileName(const SaveFileRequest& request) override;
};
