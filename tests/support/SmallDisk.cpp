#include "SmallDisk.h"

#include <sys/mount.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>

SmallDisk::SmallDisk(QString folder, qint64 bytes) : m_folder(std::move(folder)) {
    QDir().mkpath(m_folder);
    const QByteArray where = QFile::encodeName(m_folder);
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
    m_mounted = ::mount("tmpfs", where.constData(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                        options.constData()) == 0;
    if (!m_mounted)
        m_why = QString("a small file system cannot be mounted on %1 (%2; it needs root)")
                    .arg(m_folder, QString::fromLocal8Bit(std::strerror(errno)));
}

SmallDisk::~SmallDisk() {
    if (m_mounted) ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}
