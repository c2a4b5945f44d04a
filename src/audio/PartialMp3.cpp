#include "PartialMp3.h"

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

QString randomName() {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString name = ".vocorda-";
    for (int i = 0; i < 8; ++i)
        name += QChar(letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)]);
    return name + ".mp3.partial";
}

}  // namespace

QString CreatePartialMp3(const QString& mp3Path) {
    const QString folder = QFileInfo(mp3Path).absolutePath();
    for (;;) {
        const QString path = folder + '/' + randomName();
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0)
            throw AppError(QString("%1 cannot be created: %2")
                               .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        ::close(fd);
        try {
            record().add(path);
        } catch (const AppError&) {
            QFile::remove(path);
            throw;
        }
        return path;
    }
}

void RemovePartialMp3s() {
    record().removeFiles();
}
