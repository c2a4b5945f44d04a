// Loads a Windows cursor file (.CUR) as a Qt cursor, hot spot included.
#pragma once

#include <QCursor>
#include <QString>

// Throws AppError when the file is not a readable cursor.
QCursor LoadCursorFile(const QString& path);
