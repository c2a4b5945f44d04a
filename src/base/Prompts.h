// Everything modal the user answers: message boxes and the save dialog. The program shows Qt's
// boxes; tests script the answers and read back what was shown.
#pragma once

#include <QString>

enum class MessageIcon { None, Warning, Question, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct MessageRequest {
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
};

// filter uses the "description|pattern|" pairs of the classic common dialog.
struct SaveFileRequest {
    QString title;
    QString filter;
    QString fileName;
};

class Prompts {
public:
    virtual ~Prompts() = default;
    virtual MessageAnswer showMessage(const MessageRequest& request) = 0;
    // The chosen path, or the empty text when the user cancelled.
    virtual QString askSaveFileName(const SaveFileRequest& request) = 0;
};
