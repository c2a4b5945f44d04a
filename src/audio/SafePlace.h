// Where a recording goes when it cannot be mixed or encoded: out of the temporary folder's
// fixed names (which the next recording deletes) to a place the user will find it.
#pragma once

#include <QString>

// The folder beside the chosen MP3 file when it exists and is writable, else the user's data
// folder.
QString SafeFolder(const QString& mp3Path);

// Moves `source` to SafeFolder(mp3Path) as the MP3's name with `suffix` and ".wav" (never over
// an existing file) and returns the new path. Throws AppError when it cannot be moved.
QString KeepRecording(const QString& source, const QString& mp3Path, const QString& suffix = {});
