#include "SafePlace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Makes the folder and its parents; returns the system's reason when it cannot.
QString makeFolder(const QByteArray& path) {
    if (::mkdir(path.constData(), 0777) == 0 || (errno == EEXIST && QFileInfo(path).isDir()))
        return {};
    if (errno == EEXIST) return systemReason(ENOTDIR);
    const qsizetype slash = path.lastIndexOf('/');
    if (errno != ENOENT || slash <= 0) return systemReason(errno);
    if (QString reason = makeFolder(path.left(slash)); !reason.isEmpty()) return reason;
    return ::mkdir(path.constData(), 0777) == 0 ? QString() : systemReason(errno);
}

// Copies a file across file systems; the target must not exist yet. Returns the system's
// reason when not all of it arrived, and then leaves nothing at the target.
QString copyWhole(const QByteArray& from, const QByteArray& to) {
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return systemReason(errno);
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    int error = out < 0 ? errno : 0;
    char buffer[1 << 16];
    for (ssize_t got = 1; !error && got > 0;) {
        got = ::read(in, buffer, sizeof buffer);
        if (got < 0) error = errno;
        for (ssize_t done = 0; !error && done < got;) {
            const ssize_t put = ::write(out, buffer + done, size_t(got - done));
            if (put < 0) error = errno;
            done += put;
        }
    }
    if (out >= 0 && !error && ::fsync(out) != 0) error = errno;
    if (out >= 0 && ::close(out) != 0 && !error) error = errno;
    ::close(in);
    if (!error) return {};
    if (out >= 0) ::unlink(to.constData());
    return systemReason(error);
}

// Moves the file in one step where it can, never over an existing one; across file systems
// it copies and then removes the source.
QString moveFile(const QString& source, const QString& target) {
    const QByteArray from = QFile::encodeName(source), to = QFile::encodeName(target);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return {};
    // A file system without the no-replace flag: the name was seen free just before.
    if (errno == EINVAL && ::rename(from.constData(), to.constData()) == 0) return {};
    if (errno != EXDEV) return systemReason(errno);
    if (QString reason = copyWhole(from, to); !reason.isEmpty()) return reason;
    ::unlink(from.constData());
    return {};
}

// Moves `source` into the folder as `name` (or its next free name) and returns where it is once
// all of it arrived.
QString moveWhole(const QString& source, const QString& folderPath, const QString& name,
                  QStringList& reasons) {
    if (QString reason = makeFolder(QFile::encodeName(folderPath)); !reason.isEmpty()) {
        AddLinesOnce(reasons, QString("%1 cannot be created: %2.").arg(folderPath, reason));
        return {};
    }
    const qint64 size = QFileInfo(source).size();
    const QString target = FreeFileName(QDir(folderPath).filePath(name));
    if (QString reason = moveFile(source, target); !reason.isEmpty()) {
        AddLinesOnce(reasons, QString("%1: %2.").arg(target, reason));
        return {};
    }
    if (QFileInfo(target).size() == size) return target;
    AddLinesOnce(reasons, QString("%1 holds only part of the recording.").arg(target));
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

// A folder and the name to take there.
using Place = std::pair<QString, QString>;

// Moves `source` to the first place that takes it whole; throws with every place's reason.
QString moveToFirst(const QString& source, const QList<Place>& places) {
    QStringList reasons;
    for (const auto& [folder, name] : places)
        if (QString kept = moveWhole(source, folder, name, reasons); !kept.isEmpty()) return kept;
    throw AppError(
        QString("%1 could not be moved to a safe place:\n%2").arg(source, reasons.join('\n')));
}

QList<Place> safePlaces(const QString& mp3Path, const QString& name) {
    QList<Place> places;
    for (const QString& folder : SafeFolders(mp3Path)) places.append({folder, name});
    return places;
}

}  // namespace

QString KeepRecording(const QString& source, const QString& mp3Path, const QString& suffix) {
    return moveToFirst(source, safePlaces(mp3Path, baseName(mp3Path) + suffix + ".wav") +
                                   QList<Place>{{DataFolder(), datedName(source, suffix)}});
}

QString KeepInDataFolder(const QString& source, const QString& suffix) {
    return moveToFirst(source, {{DataFolder(), datedName(source, suffix)}});
}

QString KeepUnderOwnName(const QString& source, const QString& mp3Path) {
    return moveToFirst(source, safePlaces(mp3Path, QFileInfo(source).fileName()));
}

QString SetAsideInPlace(const QString& source, const QString& suffix) {
    const QString target =
        FreeFileName(QFileInfo(source).dir().filePath(datedName(source, suffix)));
    if (QString reason = moveFile(source, target); !reason.isEmpty())
        throw AppError(QString("%1 could not be set aside as %2: %3.").arg(source, target, reason));
    return target;
}

void AddLinesOnce(QStringList& lines, const QString& text) {
    for (const QString& line : text.split('\n'))
        if (!lines.contains(line)) lines << line;
}
