#include "SafePlace.h"

#include <QDateTime>
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

QString datedName(const QString& source, const QString& suffix) {
    return "Call " + QFileInfo(source).lastModified().toString("yyyy-MM-dd hh.mm.ss") + suffix +
           ".wav";
}

bool taken(const QString& path) {
    const QFileInfo file(path);
    return file.exists() || file.isSymLink();
}

// Moves `source` into the folder as `name` (or its next free name) and returns where it is once
// all of it arrived. A failed copy across file systems leaves nothing behind at the target.
QString moveWhole(const QString& source, const QString& folderPath, const QString& name,
                  QString& reasons) {
    const QDir folder(folderPath);
    if (!folder.mkpath(".")) {
        reasons += QString("\n%1 cannot be created.").arg(folderPath);
        return {};
    }
    const qint64 size = QFileInfo(source).size();
    const QString target = FreeFileName(folder.filePath(name));
    QFile file(source);
    if (file.rename(target)) {
        if (QFileInfo(target).size() == size) return target;
        reasons += QString("\n%1 holds only part of the recording.").arg(target);
        return {};
    }
    reasons += QString("\n%1: %2").arg(target, file.errorString());
    if (QFile::exists(source) && taken(target)) QFile::remove(target);
    return {};
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

QString DataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           "/vocorda-call-recorder";
}

QStringList SafeFolders(const QString& mp3Path) {
    QStringList folders;
    const QFileInfo target(mp3Path);
    // /dev/full or a folder given as the MP3 path: nobody looks for a recording there.
    if (!mp3Path.isEmpty() && (!target.exists() || target.isFile())) {
        const QFileInfo folder(target.absolutePath());
        if (folder.isDir()) folders << folder.absoluteFilePath();
    }
    folders << DataFolder();
    return folders;
}

namespace {

QString keepDated(const QString& source, const QString& suffix, QString& reasons) {
    if (QString kept = moveWhole(source, DataFolder(), datedName(source, suffix), reasons);
        !kept.isEmpty())
        return kept;
    throw AppError(QString("%1 could not be moved to a safe place:%2").arg(source, reasons));
}

}  // namespace

QString KeepRecording(const QString& source, const QString& mp3Path, const QString& suffix) {
    QString reasons;
    for (const QString& folder : SafeFolders(mp3Path))
        if (QString kept = moveWhole(source, folder, baseName(mp3Path) + suffix + ".wav", reasons);
            !kept.isEmpty())
            return kept;
    return keepDated(source, suffix, reasons);
}

QString KeepInDataFolder(const QString& source, const QString& suffix) {
    QString reasons;
    return keepDated(source, suffix, reasons);
}
