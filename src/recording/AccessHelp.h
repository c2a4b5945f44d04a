// The help on what a recording needs: the call client running and the program allowed in,
// with an offer to show the help video.
#pragma once

#include <QString>

class FileLauncher;
class Prompts;

// The question, built with the current caption of the "Start Recording" button.
QString AccessHelpText(const QString& startCaption);

// Asks the question; Yes opens programFolder/Help Video/Skype Allow.avi with the desktop's
// default program (its result is not examined).
void PushButton13_Click(Prompts& prompts, FileLauncher& launcher, const QString& startCaption,
                        const QString& programFolder);
