#include "FileRecord.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSaveFile>

#include "AppError.h"

namespace {

// "device inode path", the path percent-encoded so that any name fits on one line.
QByteArray identity(const QString& path, const QString& name) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::getuid())
        return {};
    return QByteArray::number(qulonglong(st.st_dev)) + ' ' +
           QByteArray::number(qulonglong(st.st_ino)) + ' ' +
           QFile::encodeName(name).toPercentEncoding();
}

QList<QByteArray> lines(const QString& recordPath) {
    QFile file(recordPath);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll().split('\n');
}

}  // namespace

void FileRecord::add(const QString& path, const QString& listedAs) {
    const QByteArray line = identity(path, listedAs.isEmpty() ? path : listedAs);
    if (line.isEmpty()) throw AppError(QString("%1 is not a file of this program.").arg(path));
    QByteArray all;
    for (const QByteArray& kept : lines(m_path))
        if (!kept.isEmpty()) all += kept + '\n';
    QSaveFile record(m_path);
    if (!record.open(QIODevice::WriteOnly) || record.write(all + line + '\n') < 0 ||
        !record.commit())
        throw AppError(QString("%1: %2").arg(m_path, record.errorString()));
}

QStringList FileRecord::files() const {
    QStringList found;
    for (const QByteArray& line : lines(m_path)) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 3) continue;
        const QString path = QFile::decodeName(QByteArray::fromPercentEncoding(fields[2]));
        if (identity(path, path) == line && !found.contains(path)) found << path;
    }
    return found;
}

void FileRecord::removeFiles() {
    for (const QString& path : files()) QFile::remove(path);
    clear();
}

void FileRecord::clear() {
    QFile::remove(m_path);
}
