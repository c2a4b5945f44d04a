#include "RecordingControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include "AppError.h"
#include "ErrorReport.h"
#include "LeftRecording.h"
#include "Main.h"
#include "PartialFile.h"
#include "Prompts.h"
#include "RecordingView.h"
#include "SafePlace.h"
#include "WaveMP3.h"

namespace {

// The boxes at the end of a call may come long after the user went back to the call
// application: each one asks for the desktop's attention first.
// The first of them also carries `once`: news from the start of the recording.
class AttentionPrompts : public Prompts {
public:
    AttentionPrompts(Prompts& prompts, RecordingView& view, QString once)
        : m_prompts(prompts), m_view(view), m_once(std::move(once)) {}
    MessageAnswer showMessage(const MessageRequest& request) override {
        m_view.askAttention();
        MessageRequest shown = request;
        if (!m_once.isEmpty()) shown.text += "\n\n" + std::exchange(m_once, {});
        return m_prompts.showMessage(shown);
    }
    QString askSaveFileName(const SaveFileRequest& request) override {
        return m_prompts.askSaveFileName(request);
    }

private:
    Prompts& m_prompts;
    RecordingView& m_view;
    QString m_once;
};

// The MP3 path as the user means it, like the file dialog: "~" is the home folder, and a
// relative name is found from the working folder.
QString resolvedPath(const QString& typed) {
    if (typed.isEmpty()) return typed;
    if (typed == "~" || typed.startsWith("~/")) return QDir::homePath() + typed.mid(1);
    return QFileInfo(typed).absoluteFilePath();
}

// The call of that id among the client's calls now.
CallPtr callWithId(const ICallCollection& calls, const QString& id) {
    for (int i = 1; i <= calls.Count(); ++i)
        if (CallPtr call = calls.Item(i); call && call->Id() == id) return call;
    throw AppError("The call is no longer in progress.");
}

}  // namespace

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
    QString callId;
    // The call is the one found now: another application's microphone opening and closing
    // while the recording starts must neither be recorded nor end it.
    const auto findCall = [&] {
        const auto calls = skype().ActiveCalls();
        count = calls->Count();
        if (count == 0) return;
        const CallPtr call = calls->Item(1);
        if (!call) throw AppError("The call is no longer in progress.");
        callId = call->Id();
    };
    if (trap.run(108, findCall) || count == 0) {
        trap.run(110, [&] {
            m_prompts.showMessage({"There are no active calls found.", Main::ApplicationTitle(),
                                   MessageIcon::None, MessageButtons::Ok});
        });
        return;
    }
    bool locked = false;
    // What an earlier run left is the user's recording too: set aside, never deleted.
    const auto lockAndSetAside = [&] {
        locked = takeLock(true);
        if (!locked) return;
        try {
            m_setAside = LeftRecording::setAside();
        } catch (const AppError& e) {
            locked = false;
            m_prompts.showMessage(
                {"This call is not being recorded: a recording that was not finished earlier is "
                 "still in the temporary folder, and it can be neither moved nor set aside:\n" +
                     e.description(),
                 Main::ApplicationTitle(), MessageIcon::Warning, MessageButtons::Ok});
        }
    };
    if (trap.run(111, lockAndSetAside) || !locked) return m_lock.reset();
    trap.run(112, [&] { m_view.setStartEnabled(false); });
    m_recording = Recording{callId};
    trap.run(114, [&] { Main::DeleteFileQuietly(Main::TempFile("result.wav")); });
    trap.run(116, [&] { Main::DeleteFileQuietly(Main::TempFile("mic.wav")); });
    trap.run(118, [&] { Main::DeleteFileQuietly(Main::TempFile("speaker.wav")); });
    trap.run(120, [] { QCoreApplication::processEvents(); });
    trap.run(122, [] { QCoreApplication::processEvents(); });
    trap.run(124, [] { Main::WaitSeconds(1); });
    const auto takeCall = [&](int deviceLine, auto set) {
        trap.run(deviceLine, [&] { set(*callWithId(*skype().ActiveCalls(), callId)); });
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
    // The part the encoder wrote is no recording. What it was making is still in the temporary
    // folder, for the next start.
    if (m_finishing) RemovePartialFiles();
}

void RecordingControl::oSkype_CallStatus(const CallPtr& call, int status) {
    if (status == clsInProgress || !m_recording || m_finishing) return;
    // Only the recorded call ends the recording: a second call ringing must not cut it short.
    if (!call || call->Id() != m_recording->callId) return;
    const QString callId = m_recording->callId;
    m_recording.reset();
    finishRecording(callId);
}

void RecordingControl::offerRecovery() {
    if (m_recording || m_finishing) return;
    QStringList files;
    try {
        // The files of a call another copy is recording or encoding now.
        if (!takeLock(false)) return;
        LeftRecording::adoptFormer();
        RemovePartialFiles();
        offerSetAside();
        files = LeftRecording::files();
    } catch (const AppError&) {
        // "Start Recording" will say what is wrong with the temporary folder
    }
    if (files.isEmpty()) return m_lock.reset();
    const MessageAnswer answer = m_prompts.showMessage(
        {QString("A recording that was not finished (the program was ended during a call, or "
                 "while it was saving one) is still in %1: %2.\n\nSave it now as %3?\n\nNo "
                 "leaves it there, and the next \"Start Recording\" moves it to %4 first.")
             .arg(Main::TempFolder(), LeftRecording::description(files),
                  resolvedPath(m_view.outputPath()), DataFolder()),
         Main::ApplicationTitle(), MessageIcon::Question, MessageButtons::YesNo});
    if (answer == MessageAnswer::Yes)
        finishRecording(std::nullopt);
    else
        m_lock.reset();
}

void RecordingControl::offerSetAside() {
    const QStringList files = LeftRecording::setAsideFiles();
    if (files.isEmpty()) return;
    const QString mp3 = resolvedPath(m_view.outputPath());
    const MessageAnswer answer = m_prompts.showMessage(
        {QString("A recording that could not be moved to a safe place is set aside in the "
                 "temporary folder %1:\n%2\n\nMove it now to %3?\n\nNo leaves it there for you "
                 "to copy by hand, and it is not offered again.")
             .arg(Main::TempFolder(), files.join('\n'), SafeFolders(mp3).join(", or else to ")),
         Main::ApplicationTitle(), MessageIcon::Question, MessageButtons::YesNo});
    if (answer != MessageAnswer::Yes) return LeftRecording::forgetSetAside();
    QStringList kept, reasons;
    for (const QString& file : files) {
        try {
            kept << KeepUnderOwnName(file, mp3);
        } catch (const AppError& e) {
            AddLinesOnce(reasons, e.description());
        }
    }
    QStringList text;
    if (!kept.isEmpty())
        text << "The recording that was set aside was moved to:\n" + kept.join('\n');
    if (!reasons.isEmpty())
        text << "It could not be moved to a safe place:\n" + reasons.join('\n') +
                    "\n\nIt stays set aside: copy it by hand to a folder of your own. It is "
                    "offered again at the next start.";
    else
        LeftRecording::forgetSetAside();
    m_prompts.showMessage({text.join("\n\n"), Main::ApplicationTitle(),
                           reasons.isEmpty() ? MessageIcon::None : MessageIcon::Warning,
                           MessageButtons::Ok});
}

bool RecordingControl::takeLock(bool tell) {
    QString path;
    try {
        path = Main::TempFile("recording.lock");
    } catch (const AppError& e) {
        if (tell)
            m_prompts.showMessage({"The recording cannot be started: " + e.description(),
                                   Main::ApplicationTitle(), MessageIcon::Warning,
                                   MessageButtons::Ok});
        return false;
    }
    auto lock = std::make_unique<QLockFile>(path);
    // A call may be recorded for hours: only a holder that is no longer running lets go.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return true;
    }
    if (!tell) return false;
    const QFileInfo file(lock->fileName());
    const QString text =
        lock->error() == QLockFile::LockFailedError
            ? QString(
                  "Another copy of %1 is recording a call, using the temporary folder %2. "
                  "Only one recording at a time can use it: start this one when the other "
                  "copy has saved its call.")
                  .arg(Main::kProductName, file.absolutePath())
            : QString(
                  "The recording cannot be started: the file %1 cannot be created in the "
                  "temporary folder %2 (it may not exist, or not be writable).")
                  .arg(file.fileName(), file.absolutePath());
    m_prompts.showMessage(
        {text, Main::ApplicationTitle(), MessageIcon::Warning, MessageButtons::Ok});
    return false;
}

// Nothing else may start or finish while the files are in use.
void RecordingControl::finishRecording(const std::optional<QString>& callId) {
    m_finishing = true;
    m_view.setStartEnabled(false);
    AttentionPrompts prompts(m_prompts, m_view, std::exchange(m_setAside, {}));
    const CallReport report = callId && m_skype ? m_skype->takeCallReport(*callId) : CallReport{};
    if (!report.problems.isEmpty())
        prompts.showMessage({report.problems.join("\n\n") + "\n\nWhat was recorded is saved next.",
                             Main::ApplicationTitle(), MessageIcon::Warning, MessageButtons::Ok});
    const Output output = chooseOutput();
    const bool saved = finish(output.mp3, prompts);
    m_view.resetMousePointer();
    m_view.resetProgress();
    m_lock.reset();
    m_finishing = false;
    m_view.setStartEnabled(true);
    const QString done = output.why.isEmpty() ? QString("Done.") : "Done.\n" + output.why;
    if (saved)
        prompts.showMessage({(QStringList{done} + report.notes).join("\n\n"),
                             Main::ApplicationTitle(), MessageIcon::None, MessageButtons::Ok});
}

RecordingControl::Output RecordingControl::chooseOutput() const {
    const QString typed = m_view.outputPath();
    const QString wanted = resolvedPath(typed);
    if (wanted.isEmpty()) return {wanted, {}};
    // A fresh home has no Desktop folder; when it cannot be made, the encoder step says so.
    QDir().mkpath(QFileInfo(wanted).absolutePath());
    if (!QFileInfo(wanted).isFile())
        return {wanted, QFileInfo(typed).isRelative()
                            ? QString("The recording was saved as %1.").arg(wanted)
                            : QString()};
    const QString free = FreeFileName(wanted);
    return {free, QString("The recording was saved as %1, because %2 holds an earlier recording.")
                      .arg(free, wanted)};
}

// Mixes and encodes; each step tells the user itself what failed and where the call was kept.
bool RecordingControl::finish(const QString& mp3, Prompts& prompts) {
    const AudioSeams seams{&prompts, [this](int v) { m_view.setProgress(v); }, m_encoderBytes};
    try {
        const QString mic = Main::TempFile("mic.wav"), speaker = Main::TempFile("speaker.wav");
        const QString result = Main::TempFile("result.wav");
        LeftRecording::settle();
        const bool haveMic = Main::FileExists(mic), haveSpeaker = Main::FileExists(speaker);
        // A call mixed before the program was ended: only the MP3 is left to make.
        if (!haveMic && !haveSpeaker && Main::FileExists(result))
            return ConvertToMP3(result, mp3, seams);
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
        return MergeWave(mic, speaker, mp3, seams) && ConvertToMP3(result, mp3, seams);
    } catch (const AppError& e) {
        prompts.showMessage({"The call could not be saved: " + e.description(),
                             Main::ApplicationTitle(), MessageIcon::Warning, MessageButtons::Ok});
        return false;
    }
}
