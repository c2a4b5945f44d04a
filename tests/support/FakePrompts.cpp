#include "FakePrompts.h"

MessageAnswer FakePrompts::showMessage(const MessageRequest& request) {
    messages << request;
    if (onMessage) onMessage(request);
    if (!nextAnswers.isEmpty()) return nextAnswers.dequeue();
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

QString FakePrompts::askSaveFileName(const SaveFileRequest& request) {
    saveDialogs << request;
    return nextFileNames.isEmpty() ? QString() : nextFileNames.dequeue();
}

QStringList FakePrompts::texts() const {
    QStringList result;
    for (const MessageRequest& m : messages) result << m.text;
    return result;
}
