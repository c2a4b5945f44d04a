// What the recording control needs of the main window.
#pragma once

#include <QString>

class RecordingView {
public:
    virtual ~RecordingView() = default;
    virtual void setStartEnabled(bool enabled) = 0;
    virtual void resetMousePointer() = 0;
    virtual void setProgress(int percent) = 0;
    // Value 0 and the text "Progress Bar".
    virtual void resetProgress() = 0;
    // The MP3 path as the window holds it now.
    virtual QString outputPath() const = 0;
    virtual void runAccessHelp() = 0;
    // Marks the window for the user (task bar) and brings it to the front.
    virtual void askAttention() = 0;
};
