#include "QtPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace {

QMessageBox::Icon toQt(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// "MP3 Audio File (*.mp3)|*.mp3|" becomes "MP3 Audio File (*.mp3)"; Qt takes the patterns from
// the parentheses, so the description carries them.
QString toQtFilter(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        entries << (parts[i].contains('(') ? parts[i] : parts[i] + " (" + parts[i + 1] + ")");
    return entries.join(";;");
}

}  // namespace

MessageAnswer QtPrompts::showMessage(const MessageRequest& request) {
    const bool yesNo = request.buttons == MessageButtons::YesNo;
    QString text = request.text;
    text.replace("\r\n", "\n").replace('\r', '\n');
    QMessageBox box(toQt(request.icon), request.title, text,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    QApplication::activeWindow());
    const int answer = box.exec();
    if (!yesNo) return MessageAnswer::Ok;
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

QString QtPrompts::askSaveFileName(const SaveFileRequest& request) {
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), request.title,
                                        request.fileName, toQtFilter(request.filter));
}
