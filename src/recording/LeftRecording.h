// A recording that an earlier run left in the temporary folder (the program was ended during a
// call, or while its call was being saved): what it is, and setting it aside so that the next
// recording, which uses the same file names, never deletes it.
#pragma once

#include <QString>
#include <QStringList>

namespace LeftRecording {

// Its files in the temporary folder, of mic.wav, speaker.wav and result.wav; empty when none.
// Throws AppError when the temporary folder cannot be used.
QStringList files();
// What it is, for the user: "the two sides of a call (mic.wav and speaker.wav)", ...
QString description(const QStringList& files);
// Moves its files to the data folder under dated names and returns the text that says where;
// empty when nothing was left. Throws AppError when a file cannot be moved (it then stays).
QString setAside();

}  // namespace LeftRecording
