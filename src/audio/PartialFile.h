// A hidden file of the program's own beside a file it is making (the MP3 the encoder writes, a
// recording copied to another file system): it takes its final name only once it is whole, so a
// file at that name is always a whole one.
#pragma once

#include <QString>

// Creates it under a short name of its own (the final name may already fill the folder's limit),
// `.vocorda-XXXXXXXX.mp3.partial` for the extension "mp3", and lists it in the temporary folder
// until RemovePartialFiles. Throws AppError.
QString CreatePartialFile(const QString& path, const QString& extension);

// Removes the listed partial files (a step cut short, or one that failed), wherever they are, and
// forgets them. A finished file no longer has the listed name and stays.
void RemovePartialFiles();
