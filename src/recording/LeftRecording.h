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
// Moves its files to the data folder under dated names; a file that cannot go there is set
// aside in the temporary folder under its dated name, to be offered again at the next start.
// Returns the text that says where; empty when nothing was left. Throws AppError only when a
// file can be neither moved nor renamed: it then stays, and no recording may start.
QString setAside();

// The files set aside in the temporary folder that are still there, as they were set aside.
QStringList setAsideFiles();
// The user declined them: they stay where they are and are not offered again.
void forgetSetAside();

}  // namespace LeftRecording
