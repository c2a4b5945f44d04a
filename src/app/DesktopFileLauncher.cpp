#include "DesktopFileLauncher.h"

#include <QDesktopServices>
#include <QUrl>

bool DesktopFileLauncher::openFile(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
