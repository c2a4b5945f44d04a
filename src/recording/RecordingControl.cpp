#include "RecordingControl.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "AppError.h"
#include "ErrorReport.h"
#include "Main.h"
#include "Prompts.h"
#include "RecordingView.h"
#include "SafePlace.h"
#include "WaveMP3.h"

RecordingControl::RecordingControl(SkypeFactory factory, Prompts& prompts, RecordingView& view,
                                   std::function<QByteArray()> encoderBytes)
    : m_factory(std::move(factory)),
      m_prompts(prompts),
      m_view(view),
      m_encoderBytes(std::move(encoderBytes)) {}

RecordingControl::~RecordingControl() = default;

ISkype& RecordingControl::skype() const {
    if (!m_skype) throw AppError("Object variable or With block variable not set");
    return *m_skype;
}

void RecordingControl::PushButton6_Click() {
    // A press while a call is recorded or finished would delete the files in use.
    if (m_recording || m_finishing) return;
    ErrorTrap trap(m_prompts, "Form1", "PushButton6_Click");
    trap.run(100, [&] {
        std::unique_ptr<ISkype> created = m_factory();
        connect(created.get(), &ISkype::CallStatus, this, &RecordingControl::oSkype_CallStatus);
        m_skype = std::move(created);
    });
    bool running = false;
    if (trap.run(102, [&] { running = skype().Client().IsRunning(); }) || !running) {
        trap.run(104, [&] { m_view.resetMousePointer(); });
        trap.run(106, [&] { m_view.runAccessHelp(); });
        return;
    }
    int count = 0;
    if (trap.run(108, [&] { count = skype().ActiveCalls()->Count(); }) || count == 0) {
        trap.run(110, [&] {
            m_prompts.showMessage({"There are no active calls found.", Main::ApplicationTitle(),
                                   MessageIcon::None, MessageButtons::Ok});
        });
        return;
    }
    trap.run(112, [&] { m_view.setStartEnabled(false); });
    m_recording = Recording{};
    trap.run(114, [&] { Main::DeleteFileQuietly(Main::TempFile("result.wav")); });
    trap.run(116, [&] { Main::DeleteFileQuietly(Main::TempFile("mic.wav")); });
    trap.run(118, [&] { Main::DeleteFileQuietly(Main::TempFile("speaker.wav")); });
    trap.run(120, [] { QCoreApplication::processEvents(); });
    trap.run(122, [] { QCoreApplication::processEvents(); });
    trap.run(124, [] { Main::WaitSeconds(1); });
    const auto takeCall = [&](int deviceLine, auto set) {
        trap.run(deviceLine, [&] {
            const CallPtr call = skype().ActiveCalls()->Item(1);
            if (!call) throw AppError("The call is no longer in progress.");
            if (m_recording) m_recording->callId = call->Id();
            set(*call);
        });
    };
    takeCall(126, [](ICall& call) {
        call.setCaptureMicDevice(callIoDeviceTypeFile, Main::TempFile("mic.wav"));
    });
    takeCall(128, [](ICall& call) {
        call.setOutputDevice(callIoDeviceTypeFile, Main::TempFile("speaker.wav"));
    });
}

void RecordingControl::prepareToEnd() {
    if (m_skype) m_skype->finishFiles();
}

void RecordingControl::oSkype_CallStatus(const CallPtr& call, int status) {
    if (status == clsInProgress || !m_recording || m_finishing) return;
    // Only the recorded call ends the recording: a second call ringing must not cut it short.
    if (m_recording->callId && (!call || call->Id() != *m_recording->callId)) return;
    const std::optional<QString> callId = m_recording->callId;
    m_recording.reset();
    finishRecording(callId);
}

void RecordingControl::offerRecovery() {
    if (m_recording || m_finishing) return;
    QString mic, speaker;
    try {
        mic = Main::TempFile("mic.wav");
        speaker = Main::TempFile("speaker.wav");
    } catch (const AppError&) {
        return;  // "Start Recording" will say what is wrong with the temporary folder
    }
    if (!Main::FileExists(mic) || !Main::FileExists(speaker)) return;
    const MessageAnswer answer = m_prompts.showMessage(
        {QString("A recording that was not finished (the program was ended during a call) is "
                 "still in %1.\n\nSave it now as %2?")
             .arg(QFileInfo(mic).absolutePath(), m_view.outputPath()),
         Main::ApplicationTitle(), MessageIcon::Question, MessageButtons::YesNo});
    if (answer == MessageAnswer::Yes) finishRecording(std::nullopt);
}

// Nothing else may start or finish while the files are in use.
void RecordingControl::finishRecording(const std::optional<QString>& callId) {
    m_finishing = true;
    m_view.setStartEnabled(false);
    const bool saved = finish();
    m_view.resetMousePointer();
    m_view.resetProgress();
    m_finishing = false;
    m_view.setStartEnabled(true);
    const QStringList notes = callId && m_skype ? m_skype->takeCallNotes(*callId) : QStringList();
    if (saved)
        m_prompts.showMessage({(QStringList{"Done."} + notes).join("\n\n"),
                               Main::ApplicationTitle(), MessageIcon::None, MessageButtons::Ok});
}

// Mixes and encodes; each step tells the user itself what failed and where the call was kept.
bool RecordingControl::finish() {
    const QString mp3 = m_view.outputPath();
    const AudioSeams seams{&m_prompts, [this](int v) { m_view.setProgress(v); }, m_encoderBytes};
    try {
        const QString mic = Main::TempFile("mic.wav"), speaker = Main::TempFile("speaker.wav");
        const bool haveMic = Main::FileExists(mic), haveSpeaker = Main::FileExists(speaker);
        if (!haveMic || !haveSpeaker) {
            QStringList kept;
            if (haveMic) kept << KeepRecording(mic, mp3, "-mic");
            if (haveSpeaker) kept << KeepRecording(speaker, mp3, "-speaker");
            const QString missing = haveMic ? speaker : haveSpeaker ? mic : mic + " and " + speaker;
            const QString keptText =
                kept.isEmpty() ? QString() : "\n\nWhat was written is kept as:\n" + kept.join('\n');
            // One arg() call: a '%' in a path must not be taken for a place-marker.
            throw AppError(QString("the call client did not write %1.%2").arg(missing, keptText));
        }
        const QString result = Main::TempFile("result.wav");
        return MergeWave(mic, speaker, mp3, seams) && ConvertToMP3(result, mp3, seams);
    } catch (const AppError& e) {
        m_prompts.showMessage({"The call could not be saved: " + e.description(),
                               Main::ApplicationTitle(), MessageIcon::Warning, MessageButtons::Ok});
        return false;
    }
}
