#include "SafePlace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "AppError.h"

namespace {

QString baseName(const QString& mp3Path) {
    QString name = QFileInfo(mp3Path).fileName();
    if (name.endsWith(".mp3", Qt::CaseInsensitive)) name.chop(4);
    return name.isEmpty() ? QStringLiteral("Conversation") : name;
}

QString freeName(const QDir& folder, const QString& base) {
    QString candidate = folder.filePath(base + ".wav");
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = folder.filePath(QString("%1 (%2).wav").arg(base).arg(n));
    return candidate;
}

}  // namespace

QStringList SafeFolders(const QString& mp3Path) {
    QStringList folders;
    const QFileInfo target(mp3Path);
    // /dev/full or a folder given as the MP3 path: nobody looks for a recording there.
    if (!mp3Path.isEmpty() && (!target.exists() || target.isFile())) {
        const QFileInfo folder(target.absolutePath());
        if (folder.isDir()) folders << folder.absoluteFilePath();
    }
    folders << QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                   "/vocorda-call-recorder";
    return folders;
}

QString KeepRecording(const QString& source, const QString& mp3Path, const QString& suffix) {
    QString reasons;
    for (const QString& path : SafeFolders(mp3Path)) {
        const QDir folder(path);
        if (!folder.mkpath(".")) {
            reasons += QString("\n%1 cannot be created.").arg(path);
            continue;
        }
        const QString target = freeName(folder, baseName(mp3Path) + suffix);
        QFile file(source);
        if (file.rename(target)) return target;
        reasons += QString("\n%1: %2").arg(target, file.errorString());
    }
    throw AppError(QString("%1 could not be moved to a safe place:%2").arg(source, reasons));
}
