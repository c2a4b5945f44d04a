#include "LeftRecording.h"

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

QString setAside() {
    QStringList moved;
    for (const auto& [name, suffix] : kFiles)
        if (const QString path = Main::TempFile(name); Main::FileExists(path))
            moved << KeepInDataFolder(path, suffix);
    if (moved.isEmpty()) return {};
    return "A recording that was not finished earlier was still in the temporary folder. So that "
           "this recording could not replace it, it was moved to:\n" +
           moved.join('\n');
}

}  // namespace LeftRecording
