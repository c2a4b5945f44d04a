// Opens a file with the desktop's default program for its type.
#pragma once

#include <QString>

class FileLauncher {
public:
    virtual ~FileLauncher() = default;
    // Returns whether the desktop accepted the request.
    virtual bool openFile(const QString& path) = 0;
};
