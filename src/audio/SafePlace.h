// Where a recording goes when it cannot be mixed or encoded: out of the temporary folder's
// fixed names (which the next recording deletes) to a place the user will find it.
#pragma once

#include <QString>
#include <QStringList>

// The folders to try, best first: the one beside the chosen MP3 file (when the MP3 path names a
// file, not a device or a folder, and that folder exists), then the user's data folder.
QStringList SafeFolders(const QString& mp3Path);

// `path` when nothing is there, otherwise the first of "name (2).ext", "name (3).ext", ... beside
// it that is free: nothing the program writes replaces an earlier file.
QString FreeFileName(const QString& path);

// Moves `source` to the first of SafeFolders(mp3Path) that takes it, as the MP3's name with
// `suffix` and ".wav" (never over an existing file), and returns the new path. Throws AppError
// when no folder takes it; the file then stays where it was.
QString KeepRecording(const QString& source, const QString& mp3Path, const QString& suffix = {});
