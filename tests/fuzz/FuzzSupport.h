// Shared by the fuzz targets: a scratch folder per process and prompts that answer nothing.
#pragma once

#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include "Prompts.h"

class SilentPrompts : public Prompts {
public:
    MessageAnswer showMessage(const MessageRequest&) override { return MessageAnswer::Ok; }
    QString askSaveFileName(const SaveFileRequest&) override { return {}; }
};

inline QString scratchFile(const QString& name) {
    static const QString folder = [] {
        const QString path = QDir::tempPath() + QString("/vocorda-fuzz-%1").arg(::getpid());
        QDir().mkpath(path);
        return path;
    }();
    return folder + "/" + name;
}

inline void writeScratch(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) abort();
    file.write(bytes);
}
