#include "PartialFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>

#include "AppError.h"
#include "FileRecord.h"
#include "Main.h"

namespace {

FileRecord record() {
    return FileRecord(Main::TempFile("partial-mp3.list"));
}

QString randomName(const QString& extension) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString name = ".vocorda-";
    for (int i = 0; i < 8; ++i)
        name += QChar(letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)]);
    return name + "." + extension + ".partial";
}

}  // namespace

QString CreatePartialFile(const QString& path, const QString& extension) {
    const QFileInfo target(path);
    for (;;) {
        const QString partial = target.absolutePath() + '/' + randomName(extension);
        const int fd = ::open(QFile::encodeName(partial).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0)
            throw AppError(QString("%1 cannot be created: %2")
                               .arg(partial, QString::fromLocal8Bit(std::strerror(errno))));
        ::close(fd);
        try {
            record().add(partial);
        } catch (const AppError&) {
            QFile::remove(partial);
            throw;
        }
        return partial;
    }
}

void RemovePartialFiles() {
    record().removeFiles();
}
