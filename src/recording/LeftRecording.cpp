#include "LeftRecording.h"

#include "AppError.h"
#include "FileRecord.h"
#include "Main.h"
#include "SafePlace.h"

namespace {

// Each file with the suffix its kept copy takes.
const std::pair<const char*, const char*> kFiles[] = {
    {"mic.wav", "-mic"}, {"speaker.wav", "-speaker"}, {"result.wav", ""}};

}  // namespace

namespace LeftRecording {

QStringList files() {
    QStringList found;
    for (const auto& [name, suffix] : kFiles)
        if (Main::FileExists(Main::TempFile(name))) found << name;
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

}  // namespace

QString setAside() {
    // The mix removes the sides only once it is whole: beside them it is made again from them.
    if (Main::FileExists(Main::TempFile("mic.wav")) &&
        Main::FileExists(Main::TempFile("speaker.wav")))
        Main::DeleteFileQuietly(Main::TempFile("result.wav"));
    QStringList moved, reasons, inTemp;
    for (const auto& [name, suffix] : kFiles) {
        const QString path = Main::TempFile(name);
        if (!Main::FileExists(path)) continue;
        try {
            moved << KeepInDataFolder(path, suffix);
        } catch (const AppError& e) {
            AddLinesOnce(reasons, e.description());
            inTemp << SetAsideInPlace(path, suffix);
            setAsideRecord().add(inTemp.last());
        }
    }
    if (moved.isEmpty() && inTemp.isEmpty()) return {};
    return setAsideText(moved, reasons, inTemp);
}

QStringList setAsideFiles() {
    return setAsideRecord().files();
}

void forgetSetAside() {
    setAsideRecord().clear();
}

}  // namespace LeftRecording
