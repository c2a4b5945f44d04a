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
#include "PartialFile.h"

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

// Copies a file across file systems into the (empty) file at `to`, whole on the disk before
// it returns. Returns the system's reason when not all of it arrived.
QString copyWhole(const QByteArray& from, const QByteArray& to) {
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return systemReason(errno);
    const int out = ::open(to.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
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
    return error ? systemReason(error) : QString();
}

// The file's data, then the folder's entries: on the disk before anything is removed.
void syncToDisk(const QByteArray& path, int flags) {
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void syncFolderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    syncToDisk(slash > 0 ? path.left(slash) : QByteArray("/"), O_DIRECTORY);
}

// Moves across file systems through a hidden copy that takes the name once it is whole.
QString copyAcross(const QString& source, const QString& target, int* error) {
    QString partial;
    try {
        partial = CreatePartialFile(target, "wav");
    } catch (const AppError& e) {
        return e.description();
    }
    const QByteArray copy = QFile::encodeName(partial);
    QString reason = copyWhole(QFile::encodeName(source), copy);
    if (reason.isEmpty()) {
        const int failed = RenameWithoutReplacing(partial, target);
        if (error) *error = failed;
        if (failed) reason = systemReason(failed);
    }
    if (!reason.isEmpty()) return ::unlink(copy.constData()), reason;
    syncFolderOf(QFile::encodeName(target));
    ::unlink(QFile::encodeName(source).constData());
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
    if (QString reason = MoveFile(source, target); !reason.isEmpty()) {
        AddLinesOnce(reasons, QString("%1: %2.").arg(target, reason));
        return {};
    }
    if (QFileInfo(target).size() == size) return target;
    AddLinesOnce(reasons, QString("%1 holds only part of the recording.").arg(target));
    return {};
}

}  // namespace

int RenameWithoutReplacing(const QString& source, const QString& target) {
    const QByteArray from = QFile::encodeName(source), to = QFile::encodeName(target);
    syncToDisk(from, O_NOFOLLOW);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the no-replace flag: a link fails where the name is taken.
    if (::link(from.constData(), to.constData()) == 0) return ::unlink(from.constData()), 0;
    if (errno != EPERM && errno != EOPNOTSUPP) return errno;
    // Nor links: the name is taken by an empty file of our own, which the rename replaces.
    const int fd =
        ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    ::close(fd);
    if (::rename(from.constData(), to.constData()) == 0) return 0;
    const int error = errno;
    ::unlink(to.constData());
    return error;
}

QString MoveFile(const QString& source, const QString& target, int* error) {
    const int failed = RenameWithoutReplacing(source, target);
    if (error) *error = failed;
    if (failed == EXDEV) return copyAcross(source, target, error);
    if (failed) return systemReason(failed);
    syncFolderOf(QFile::encodeName(target));
    return {};
}

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

QString SetAsideInPlace(const QString& source, const QString& suffix,
                        const std::function<void(const QString&)>& beforeRename) {
    const QString target =
        FreeFileName(QFileInfo(source).dir().filePath(datedName(source, suffix)));
    beforeRename(target);
    if (QString reason = MoveFile(source, target); !reason.isEmpty())
        throw AppError(QString("%1 could not be set aside as %2: %3.").arg(source, target, reason));
    return target;
}

void AddLinesOnce(QStringList& lines, const QString& text) {
    for (const QString& line : text.split('\n'))
        if (!lines.contains(line)) lines << line;
}
