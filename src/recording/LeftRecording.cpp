#include "LeftRecording.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include "AppError.h"
#include "FileRecord.h"
#include "Main.h"
#include "SafePlace.h"
#include "WavWriter.h"

namespace {

// Each file with the suffix its kept copy takes.
const std::pair<const char*, const char*> kFiles[] = {
    {"mic.wav", "-mic"}, {"speaker.wav", "-speaker"}, {"result.wav", ""}};

}  // namespace

namespace LeftRecording {

void settle() {
    for (const char* side : {"mic.wav", "speaker.wav"})
        WavWriter::countWholeFile(Main::TempFile(side));
    const bool mic = Main::FileExists(Main::TempFile("mic.wav"));
    const bool speaker = Main::FileExists(Main::TempFile("speaker.wav"));
    if (mic && speaker) return Main::DeleteFileQuietly(Main::TempFile("result.wav"));
    if (!Main::FileExists(Main::TempFile("result.wav"))) return;
    if (mic) Main::DeleteFileQuietly(Main::TempFile("mic.wav"));
    if (speaker) Main::DeleteFileQuietly(Main::TempFile("speaker.wav"));
}

QStringList files() {
    QStringList found;
    for (const auto& [name, suffix] : kFiles)
        if (Main::FileExists(Main::TempFile(name))) found << name;
    if (found.contains("result.wav") && found.size() == 2) return {"result.wav"};
    return found;
}

QString description(const QStringList& files) {
    if (files.contains("mic.wav") && files.contains("speaker.wav"))
        return "the two sides of a call (mic.wav and speaker.wav)";
    if (files == QStringList{"result.wav"})
        return "a call, mixed but not yet made into an MP3 file (result.wav)";
    return QString("part of a call (%1)").arg(files.join(" and "));
}

namespace {

FileRecord setAsideRecord() {
    return FileRecord(Main::TempFile("set-aside.list"));
}

QString setAsideText(const QStringList& moved, const QStringList& reasons,
                     const QStringList& inTemp) {
    const QString head =
        "A recording that was not finished earlier was still in the temporary folder. So that "
        "this recording could not replace it, ";
    if (inTemp.isEmpty()) return head + "it was moved to:\n" + moved.join('\n');
    QString text = head + "it was set aside in the temporary folder as:\n" + inTemp.join('\n') +
                   "\n\nIt could not be moved to a safe place:\n" + reasons.join('\n') +
                   "\n\nCopy it by hand to a folder of your own; it is offered again at the "
                   "next start.";
    if (!moved.isEmpty()) text += "\n\nThe rest of it was moved to:\n" + moved.join('\n');
    return text;
}

// When a later file fails: the box must still say where the earlier ones are.
QString whereTheRestWent(const QStringList& moved, const QStringList& inTemp) {
    QString text;
    if (!moved.isEmpty()) text += "\n\nThe rest of it was moved to:\n" + moved.join('\n');
    if (!inTemp.isEmpty())
        text +=
            "\n\nThe rest of it was set aside in the temporary folder as:\n" + inTemp.join('\n');
    return text;
}

}  // namespace

QString setAside() {
    settle();
    QStringList moved, reasons, inTemp;
    for (const auto& [name, suffix] : kFiles) {
        const QString path = Main::TempFile(name);
        if (!Main::FileExists(path)) continue;
        try {
            moved << KeepInDataFolder(path, suffix);
        } catch (const AppError& e) {
            AddLinesOnce(reasons, e.description());
            try {
                // Listed first: a set-aside file is offered again whatever happens after.
                inTemp << SetAsideInPlace(path, suffix, [&path](const QString& target) {
                    setAsideRecord().add(path, target);
                });
            } catch (const AppError& failed) {
                throw AppError(failed.description() + whereTheRestWent(moved, inTemp));
            }
        }
    }
    if (moved.isEmpty() && inTemp.isEmpty()) return {};
    return setAsideText(moved, reasons, inTemp);
}

void adoptFormer() {
    const QString former = Main::FormerTempFolder();
    if (former.isEmpty() || !files().isEmpty()) return;
    QLockFile lock(former + "/recording.lock");
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) return;  // an earlier version records there now
    for (const auto& [name, suffix] : kFiles)
        if (Main::FileExists(former + '/' + name))
            MoveFile(former + '/' + name, Main::TempFile(name));
    FileRecord formerSetAside(former + "/set-aside.list");
    bool allMoved = true;
    for (const QString& file : formerSetAside.files()) {
        const QString to = FreeFileName(Main::TempFile(QFileInfo(file).fileName()));
        allMoved = MoveFile(file, to).isEmpty() && allMoved;
        if (Main::FileExists(to)) setAsideRecord().add(to);
    }
    if (allMoved) formerSetAside.clear();
    FileRecord(former + "/partial-mp3.list").removeFiles();
    Main::DeleteFileQuietly(former + "/lame.exe");
    lock.unlock();
    QDir().rmdir(former);
}

QStringList setAsideFiles() {
    return setAsideRecord().files();
}

void forgetSetAside() {
    setAsideRecord().clear();
}

}  // namespace LeftRecording
