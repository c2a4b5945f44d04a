// Shared utilities: waiting with the window alive, file tests and deletes, writing a byte block,
// the desktop folder, the application title, and the program's and temporary folders.
// Failures are thrown as AppError, except where a procedure is said to absorb them.
#pragma once

#include <QByteArray>
#include <QString>

namespace Main {

inline constexpr char kProductName[] = "Vocorda Call Recorder";
inline constexpr int kDesktopFolderNumber = 0;

// Waits without spinning, letting window messages through. 0 or less returns at once.
void WaitSeconds(double seconds);
// True when the file's last-change time can be read; never fails.
bool FileExists(const QString& path);
// Removes the file if it can; never fails, never reports.
void DeleteFileQuietly(const QString& path);
// Removes the file even when it is read-only; throws when it cannot.
void DeleteFileForced(const QString& path);
// The file ends up holding exactly `bytes`.
void WriteBytesToFile(const QByteArray& bytes, const QString& path);
// The folder's path, or the empty text for a folder number that is not known.
QString GetSpecialFolderPath(int folderNumber);
// The desktop folder with a trailing separator; throws when it cannot be found.
QString GetDesktopFolder();

// The product name without its last word(s), at most 40 characters.
QString MakeApplicationTitle(const QString& productName);
void SetApplicationTitle();
// The caption of message boxes that have none of their own.
QString ApplicationTitle();

// The folder of the running executable.
QString ProgramFolder();
// Where a call is kept while it runs and until it is saved: on the disk, so that a reboot or a
// power cut cannot take it, and private, so that no file of another's is taken for ours. A folder
// of the program's own inside TEMP when that is set, else $XDG_STATE_HOME/vocorda-call-recorder
// (~/.local/state/...). Made when missing; throws when it is a link, a file or another user's.
QString TempFolder();
// The private folder that earlier versions used when TEMP was not set, inside the system's
// temporary folder (often in memory, emptied at a reboot), when it is there and ours; else "".
QString FormerTempFolder();
// `name` inside TempFolder(), formed anew at each use.
QString TempFile(const QString& name);

}  // namespace Main
