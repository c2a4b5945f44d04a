#include "CursorFile.h"

#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>

#include "AppError.h"

namespace {

constexpr int kDirectorySize = 6;
constexpr int kEntrySize = 16;
constexpr quint16 kCursorType = 2;

QString invalidPicture(const QString& path) {
    return QString("Invalid picture: %1 is not a cursor file").arg(path);
}

}  // namespace

QCursor LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QString("%1: %2").arg(path, file.errorString()));
    const QByteArray head = file.read(kDirectorySize + kEntrySize);
    const auto* bytes = reinterpret_cast<const uchar*>(head.constData());
    if (head.size() < kDirectorySize + kEntrySize || qFromLittleEndian<quint16>(bytes) != 0 ||
        qFromLittleEndian<quint16>(bytes + 2) != kCursorType)
        throw AppError(invalidPicture(path));
    // Qt's reader knows the image but not the hot spot, which the directory entry carries.
    const int hotX = qFromLittleEndian<quint16>(bytes + kDirectorySize + 4);
    const int hotY = qFromLittleEndian<quint16>(bytes + kDirectorySize + 6);
    file.seek(0);
    QImageReader reader(&file, "cur");
    const QImage image = reader.read();
    if (image.isNull()) throw AppError(invalidPicture(path));
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}
