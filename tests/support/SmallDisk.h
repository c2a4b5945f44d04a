// A small file system of its own (tmpfs) mounted on a folder for one test, to fill up for real.
// Only root can mount one; isMounted() says whether it is there.
#pragma once

#include <QString>

class SmallDisk {
public:
    SmallDisk(QString folder, qint64 bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool isMounted() const { return m_mounted; }
    QString why() const { return m_why; }  // why it is not mounted

private:
    QString m_folder;
    bool m_mounted = false;
    QString m_why;
};
