// "Start Recording" to "Done.": has the call client write both sides of the active call into
// TEMP/mic.wav and TEMP/speaker.wav, and when that call leaves "in progress" mixes them, encodes
// the MP3 at the window's output path and says "Done.".
#pragma once

#include <QByteArray>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

#include "SkypeClient.h"

class Prompts;
class QLockFile;
class RecordingView;

class RecordingControl : public QObject {
    Q_OBJECT
public:
    // encoderBytes: the encoder to write out; empty for the embedded one.
    RecordingControl(SkypeFactory factory, Prompts& prompts, RecordingView& view,
                     std::function<QByteArray()> encoderBytes = {});
    ~RecordingControl() override;

    void PushButton6_Click();
    void oSkype_CallStatus(const CallPtr& call, int status);

    // At start-up: offers to save a recording that a killed program left behind.
    void offerRecovery();
    // The program is about to end: let the client finish the files of a call under way.
    void prepareToEnd();

    bool isRecording() const { return m_recording.has_value(); }
    bool isFinishing() const { return m_finishing; }

private:
    struct Recording {
        QString callId;  // only this call's end ends the recording
    };

    // Where the finished call goes, and why there when it is not the window's path.
    struct Output {
        QString mp3;
        QString why;
    };

    ISkype& skype() const;
    // One recording at a time per temporary folder: another copy of the program may be using
    // its files. Says why not when `tell`.
    bool takeLock(bool tell);
    // Offers to move what an earlier start set aside in the temporary folder to a safe place.
    void offerSetAside();
    // callId: the recorded call, when the client told which it was.
    void finishRecording(const std::optional<QString>& callId);
    Output chooseOutput() const;
    bool finish(const QString& mp3, Prompts& prompts);

    SkypeFactory m_factory;
    Prompts& m_prompts;
    RecordingView& m_view;
    std::function<QByteArray()> m_encoderBytes;
    std::unique_ptr<ISkype> m_skype;
    std::optional<Recording> m_recording;
    std::unique_ptr<QLockFile> m_lock;
    bool m_finishing = false;
    QString m_setAside;  // where a left recording went, said with the next box
};
