// The program's file launcher: the desktop's default application through Qt.
#pragma once

#include "FileLauncher.h"

class DesktopFileLauncher : public FileLauncher {
public:
    bool openFile(const QString& path) override;
};
