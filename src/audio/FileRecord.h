// Files the program made that a later run must find again (a partial MP3 a killed encoder left,
// a recording set aside), listed in a small file in the temporary folder. A listed file counts
// only while it is the very file that was listed (same device and inode, the user's own, a
// plain file): whatever was put at its name since is never taken for the program's.
#pragma once

#include <QString>
#include <QStringList>

class FileRecord {
public:
    explicit FileRecord(QString recordPath) : m_path(std::move(recordPath)) {}

    // Lists the file as it is now, under `listedAs` when it is about to be renamed there in its
    // folder. Throws AppError when the record cannot be written.
    void add(const QString& path, const QString& listedAs = {});
    // The listed files that are still there as they were listed, oldest first.
    QStringList files() const;
    // Removes every listed file that is still the one listed, then the record itself.
    void removeFiles();
    // Forgets the files (they stay where they are).
    void clear();

private:
    QString m_path;
};
