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

bool taken(const QString& path) {
    const QFileInfo file(path);
    return file.exists() || file.isSymLink();
}

}  // namespace

QString FreeFileName(const QString& path) {
    if (!taken(path)) return path;
    const QFileInfo file(path);
    const QString suffix = file.suffix().isEmpty() ? QString() : "." + file.suffix();
    const QString stem = path.chopped(suffix.size());
    QString candidate;
    for (int n = 2; candidate.isEmpty() || taken(candidate); ++n)
        candidate = QString("%1 (%2)%3").arg(stem, QString::number(n), suffix);
    return candidate;
}

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
        const QString target = FreeFileName(folder.filePath(baseName(mp3Path) + suffix + ".wav"));
        QFile file(source);
        if (file.rename(target)) return target;
        reasons += QString("\n%1: %2").arg(target, file.errorString());
    }
    throw AppError(QString("%1 could not be moved to a safe place:%2").arg(source, reasons));
}
