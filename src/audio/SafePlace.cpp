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

QString SafeFolder(const QString& mp3Path) {
    if (!mp3Path.isEmpty()) {
        const QFileInfo folder(QFileInfo(mp3Path).absolutePath());
        if (folder.isDir() && folder.isWritable()) return folder.absoluteFilePath();
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           "/vocorda-call-recorder";
}

QString KeepRecording(const QString& source, const QString& mp3Path, const QString& suffix) {
    const QDir folder(SafeFolder(mp3Path));
    if (!folder.mkpath("."))
        throw AppError(QString("The folder %1 cannot be created.").arg(folder.path()));
    const QString target = freeName(folder, baseName(mp3Path) + suffix);
    QFile file(source);
    if (!file.rename(target))
        throw AppError(
            QString("%1 cannot be moved to %2: %3").arg(source, target, file.errorString()));
    return target;
}
