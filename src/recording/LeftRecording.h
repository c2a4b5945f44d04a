// A recording that an earlier run left in the temporary folder (the program was ended during a
// call, or while its call was being saved): what it is, and setting it aside so that the next
// recording, which uses the same file names, never deletes it.
#pragma once

#include <QString>
#include <QStringList>

namespace LeftRecording {

// Its files in the temporary folder, of mic.wav, speaker.wav and result.wav, as settle() leaves
// them; empty when none. Throws AppError when the temporary folder cannot be used.
QStringList files();
// Makes it what it holds: a side's header counts every whole frame in it (the program ended
// between two trips to the disk); a mix beside both sides goes (it is made again from them), and
// a mix beside one side is the call (the mix removes the sides only once it is whole).
void settle();
// What it is, for the user: "the two sides of a call (mic.wav and speaker.wav)", ...
QString description(const QStringList& files);
// Moves its files to the data folder under dated names; a file that cannot go there is set
// aside in the temporary folder under its dated name, to be offered again at the next start.
// Returns the text that says where; empty when nothing was left. Throws AppError only when a
// file can be neither moved nor renamed: it then stays, and no recording may start.
QString setAside();

// Brings over what an earlier version left in its former temporary folder (a call, set-aside
// files), to be offered as any left recording is; while no recording waits here already, and
// while no earlier version records there. Moves what it can and says nothing.
void adoptFormer();

// The files set aside in the temporary folder that are still there, as they were set aside.
QStringList setAsideFiles();
// The user declined them: they stay where they are and are not offered again.
void forgetSetAside();

}  // namespace LeftRecording
