// Where a recording goes when it cannot be mixed or encoded: out of the temporary folder's
// fixed names (which the next recording uses) to a place the user will find it.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// The folders to try, best first: the one beside the chosen MP3 file (when the MP3 path names a
// file, not a device or a folder, and that folder exists), then the user's data folder.
QStringList SafeFolders(const QString& mp3Path);

// The user's data folder for recordings, `~/.local/share/vocorda-call-recorder`.
QString DataFolder();

// `path` when nothing is there, otherwise the first of "name (2).ext", "name (3).ext", ... beside
// it that is free: nothing the program writes replaces an earlier file.
QString FreeFileName(const QString& path);

// Gives the file the name `target` in one step on its file system, never over an existing file,
// once its data is on the disk. Returns 0, or the system's error (EXDEV across file systems).
int RenameWithoutReplacing(const QString& source, const QString& target);

// Moves the file to `target`, never over an existing file: in one step on one file system, else
// through a hidden copy beside the target that takes the name once it is whole on the disk; the
// source goes once the target is there. Returns the system's reason when it could not (and its
// error in `error`), and then nothing is left at the target.
QString MoveFile(const QString& source, const QString& target, int* error = nullptr);

// Moves `source` to the first of SafeFolders(mp3Path) that takes it, as the MP3's name with
// `suffix` and ".wav", else to the data folder under a short dated name (the MP3's name may be
// too long or not valid there); never over an existing file. Returns the new path once the
// whole file is there. Throws AppError when no place takes it: the file then stays where it
// was, and no part of it is left anywhere else.
QString KeepRecording(const QString& source, const QString& mp3Path, const QString& suffix = {});

// Moves `source` to the data folder under its dated name, "Call 2026-12-09 14.03.22" with
// `suffix` and ".wav" (dated by its last change); throws AppError as KeepRecording does.
QString KeepInDataFolder(const QString& source, const QString& suffix);

// Moves `source` to the first of SafeFolders(mp3Path) that takes it, under its own name;
// throws AppError as KeepRecording does.
QString KeepUnderOwnName(const QString& source, const QString& mp3Path);

// Renames `source` in its own folder to its dated name, as KeepInDataFolder names it: that needs
// no space. `beforeRename` is told the new path first (and may throw). Returns the new path;
// throws AppError with the system's reason.
QString SetAsideInPlace(const QString& source, const QString& suffix,
                        const std::function<void(const QString&)>& beforeRename);

// Adds each line of `text` that `lines` does not hold yet: a box says each reason once, however
// many files it failed for.
void AddLinesOnce(QStringList& lines, const QString& text);
