// The hidden file beside the MP3 that the encoder writes: it takes the MP3's name only once the
// encoder has finished, so a file at the MP3's path is always a whole recording.
#pragma once

#include <QString>

// Creates it under a short name of the program's own (the MP3's name may already fill the
// folder's limit) and lists it in the temporary folder until RemovePartialMp3s. Throws AppError.
QString CreatePartialMp3(const QString& mp3Path);

// Removes the listed partial files (an encoding cut short, or one that failed), wherever they
// are, and forgets them. A finished MP3 no longer has the listed name and stays.
void RemovePartialMp3s();
