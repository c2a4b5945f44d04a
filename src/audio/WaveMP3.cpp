#include "WaveMP3.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "AppError.h"
#include "ErrorReport.h"
#include "Main.h"
#include "PartialFile.h"
#include "Prompts.h"
#include "RunAndWait.h"
#include "SafePlace.h"
#include "TrackMixer.h"

namespace {

constexpr int kHidden = 0;

void tell(const AudioSeams& seams, const QString& text) {
    seams.prompts->showMessage(
        {text, Main::ApplicationTitle(), MessageIcon::Warning, MessageButtons::Ok});
}

// A file of the recording to keep, and whether the program could read it at all.
struct Kept {
    QString path;
    QString suffix;
    bool unusable = false;
};

// Moves each file to the safe place and says where every one of them now is: "Nothing is
// lost" only when each was seen whole in its new place and none is unusable or missing.
QString keepAll(const QList<Kept>& files, const QString& mp3Path) {
    QStringList kept, stuck, missing;
    bool damaged = false;
    for (const Kept& file : files) {
        if (!QFileInfo::exists(file.path)) {
            missing << file.path;
            continue;
        }
        damaged = damaged || file.unusable;
        try {
            kept << KeepRecording(file.path, mp3Path, file.suffix) +
                        (file.unusable ? " (unusable)" : "");
        } catch (const AppError& e) {
            AddLinesOnce(stuck, e.description());
        }
    }
    const QString lost =
        QString("Part of the recording is lost: %1. ")
            .arg(!missing.isEmpty()
                     ? missing.join(" and ") + (missing.size() > 1 ? " are missing" : " is missing")
                     : QString("the file marked unusable is damaged"));
    if (stuck.isEmpty() && (damaged || !missing.isEmpty()))
        return kept.isEmpty() ? lost.trimmed()
                              : lost + "What there is was kept as:\n" + kept.join('\n');
    if (stuck.isEmpty()) return "Nothing is lost; the recording was kept as:\n" + kept.join('\n');
    const QString moved = kept.isEmpty() ? QString() : "\n\nKept as:\n" + kept.join('\n');
    return "The recording could not be moved to a safe place; copy it by hand to a folder of "
           "your own now:\n" +
           stuck.join('\n') + moved;
}

// Why the mix cannot be encoded, or the empty text: LAME takes any other file for raw samples.
QString wavRefusal(const QString& wavPath, const AudioSeams& seams) {
    try {
        ReadWaveInfo(wavPath, *seams.prompts);
        return {};
    } catch (const AppError& e) {
        return e.description();
    }
}

// Why two sides cannot be mixed, or the empty text when they can. A side the program cannot
// read at all is marked unusable.
QString mixRefusal(MixInput inputs[2], QList<Kept>& sides, Prompts& prompts) {
    QString refusal;
    for (int i = 0; i < 2; ++i) {
        try {
            inputs[i].info = ReadWaveInfo(inputs[i].path, prompts);
        } catch (const AppError& e) {
            sides[i].unusable = true;
            if (refusal.isEmpty()) refusal = e.description();
        }
    }
    if (!refusal.isEmpty()) return refusal;
    const WaveInfo& a = inputs[0].info;
    const WaveInfo& b = inputs[1].info;
    if (a.isEmpty() || b.isEmpty()) return "a file name is not valid.";
    if (a.Channels != b.Channels || a.SampleRate != b.SampleRate)
        return QString("%1 has %2 channel(s) at %3 Hz but %4 has %5 channel(s) at %6 Hz.")
            .arg(inputs[0].path, QString::number(a.Channels), QString::number(a.SampleRate),
                 inputs[1].path, QString::number(b.Channels), QString::number(b.SampleRate));
    if (a.DataSize == 0 && b.DataSize == 0) return "both sides of the call are empty.";
    return {};
}

}  // namespace

QByteArray LoadEncoderResource() {
    QFile resource(QStringLiteral(":/CUSTOM/101"));
    if (!resource.open(QIODevice::ReadOnly))
        throw AppError("Resource with identifier '101' not found");
    return resource.readAll();
}

bool MergeWave(const QString& firstPath, const QString& secondPath, const QString& mp3Path,
               const AudioSeams& seams) {
    ErrorTrap trap(*seams.prompts, "WaveMP3", "MergeWave");
    MixInput inputs[2] = {{firstPath, {}}, {secondPath, {}}};
    QList<Kept> sides = {{firstPath, "-mic"}, {secondPath, "-speaker"}};
    QString failure = mixRefusal(inputs, sides, *seams.prompts);
    const QString output = Main::TempFile("result.wav");
    if (failure.isEmpty()) {
        TrackMixer mixer(inputs[0], inputs[1], seams.progress);
        trap.setExtra([&] {
            return QString("lCnt: %1\r\nNFO(Index).DataSize: %2")
                .arg(mixer.bytesDone())
                .arg(mixer.longerDataSize());
        });
        // A step that fails stops the mix: it would fail again in every block.
        const bool failed = trap.run(120, [&] { mixer.openInputs(); }) ||
                            trap.run(124, [&] { mixer.openOutput(output); }) ||
                            trap.run(126, [&] { mixer.mixData(); }) ||
                            trap.run(150, [&] { mixer.finishOutput(); });
        if (failed) failure = trap.lastFailure();
    }
    if (!failure.isEmpty()) {
        QFile::remove(output);
        tell(seams, QString("The two sides of the call could not be mixed: %1\n\n%2")
                        .arg(failure, keepAll(sides, mp3Path)));
        return false;
    }
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    Main::WaitSeconds(1);
    Main::DeleteFileQuietly(firstPath);
    Main::DeleteFileQuietly(secondPath);
    return true;
}

QString EncoderCommandLine(const QString& encoderPath, const QString& wavPath,
                           const QString& mp3Path) {
    const QString quotedEncoder = '"' + encoderPath + '"';
    const QString arguments = "  -h \"" + wavPath + "\" \"" + mp3Path + '"';
    return quotedEncoder + arguments;
}

namespace {

QString nameTooLong() {
    return "the name is too long for this folder.";
}

// LAME writes nothing useful to an empty name, and exits 0 all the same.
QString outputRefusal(const QString& mp3Path) {
    if (mp3Path.isEmpty()) return "no MP3 file is chosen (the path is empty).";
    const QFileInfo target(mp3Path);
    if (target.isDir()) return QString("%1 is a folder, not a file.").arg(mp3Path);
    // The finished MP3 takes the name: a device there (/dev/full) must never be replaced.
    if (target.exists() && !target.isFile())
        return QString("%1 is a device, not a file.").arg(mp3Path);
    const QFileInfo folder(target.absolutePath());
    if (!folder.isDir()) return QString("the folder %1 does not exist.").arg(folder.filePath());
    if (!folder.isWritable())
        return QString("the folder %1 cannot be written to.").arg(folder.filePath());
    const long nameMax = ::pathconf(QFile::encodeName(folder.filePath()).constData(), _PC_NAME_MAX);
    if (nameMax > 0 && QFile::encodeName(target.fileName()).size() > nameMax) return nameTooLong();
    if (target.exists() && !target.isWritable())
        return QString("%1 cannot be written.").arg(mp3Path);
    return {};
}

bool allowsPrograms(const QString& folder) {
    struct statvfs fs {};
    return ::statvfs(QFile::encodeName(folder).constData(), &fs) != 0 || !(fs.f_flag & ST_NOEXEC);
}

// The written-out encoder, or the system's when the temporary folder may not run programs.
QString chooseEncoder(const QString& written, QString& program, const AudioSeams& seams) {
    program = written;
    const QString folder = QFileInfo(written).absolutePath();
    if (allowsPrograms(folder)) return {};
    program = QStandardPaths::findExecutable("lame");
    const QString noexec = QString(
                               "the temporary folder %1 does not allow running programs (it "
                               "is mounted noexec)")
                               .arg(folder);
    if (program.isEmpty())
        return noexec + ", and no encoder (lame) is installed on the system to run instead.";
    tell(seams, QString("The %1, so the encoder installed on the system is used instead: %2")
                    .arg(noexec.mid(4), program));
    return {};
}

// Only the very encoder this run wrote runs as the user: the user's own plain file, that
// nobody else can write, holding the bytes written.
QString encoderRefusal(const QString& path, const QByteArray& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    QFile file;
    const bool ours = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      st.st_uid == ::getuid() && (st.st_mode & 022) == 0 &&
                      file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) &&
                      file.readAll() == bytes;
    if (fd >= 0 && !file.isOpen()) ::close(fd);
    if (ours) return {};
    return QString(
               "the encoder at %1 is not the file this program wrote there (another user's "
               "file may be in its place), so it was not run.")
        .arg(path);
}

QString lastLine(const QByteArray& output) {
    static const QRegularExpression escapes("\x1b\\[[0-9;]*[A-Za-z]");
    QStringList lines = QString::fromLocal8Bit(output).remove(escapes).split(
        QRegularExpression("[\r\n]"), Qt::SkipEmptyParts);
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty()) lines.removeLast();
    return lines.isEmpty() ? QString() : lines.last().trimmed();
}

QString encodeFailure(int exitCode, const QString& written, const QString& commandLine,
                      const QByteArray& errorOutput) {
    const QString said = lastLine(errorOutput);
    const QString detail = said.isEmpty() ? QString() : "\nThe encoder said: " + said;
    if (exitCode == kRunStartFailed) return "the encoder could not be started: " + commandLine;
    if (exitCode == kRunCrashed) return "the encoder stopped unexpectedly: " + commandLine + detail;
    if (exitCode != 0)
        return QString("the encoder failed with exit code %1: %2").arg(exitCode).arg(commandLine) +
               detail;
    if (QFileInfo(written).size() <= 0)
        return QString("the encoder left no MP3 file at %1.").arg(written) + detail;
    return {};
}

// The whole MP3 takes its name in one step, on the disk before the mix goes, and never replaces
// a file that took the name while the encoder ran.
QString giveName(const QString& partial, const QString& mp3Path) {
    int error = 0;
    const QString reason = MoveFile(partial, mp3Path, &error);
    if (reason.isEmpty()) return {};
    if (error == ENAMETOOLONG) return nameTooLong();
    if (error == EEXIST)
        return QString("another file took the name %1 while the MP3 file was made.").arg(mp3Path);
    return QString("the finished MP3 file %1 could not be renamed to %2 (%3).")
        .arg(partial, mp3Path, reason);
}

}  // namespace

namespace {

// Writes the encoder out and runs it on the WAV file into `partial`; says what went wrong.
QString encode(ErrorTrap& trap, const QString& wavPath, const QString& partial,
               const AudioSeams& seams, QString& encoderPath) {
    QByteArray bytes, errorOutput;
    QString commandLine, program;
    int exitCode = kRunStartFailed;
    trap.run(100,
             [&] { bytes = seams.encoderBytes ? seams.encoderBytes() : LoadEncoderResource(); });
    const bool unwritten = trap.run(102, [&] {
        encoderPath = Main::TempFile("lame.exe");
        QFile::remove(encoderPath);  // what is there is not ours to run
        Main::WriteBytesToFile(bytes, encoderPath);
        QFile::setPermissions(
            encoderPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    });
    if (unwritten) return "the encoder could not be written out: " + trap.lastFailure();
    if (QString refusal = encoderRefusal(encoderPath, bytes); !refusal.isEmpty()) return refusal;
    if (QString refusal = chooseEncoder(encoderPath, program, seams); !refusal.isEmpty())
        return refusal;
    trap.run(110, [&] { commandLine = EncoderCommandLine(encoderPath, wavPath, partial); });
    trap.run(112, [&] {
        static const QRegularExpression percent("\\(\\s*(\\d+)%\\)");
        exitCode =
            RunAndWait(program, {"-h", wavPath, partial}, kHidden, [&](const QByteArray& chunk) {
                errorOutput = (errorOutput + chunk).right(4096);
                QRegularExpressionMatch last;
                for (const auto& m : percent.globalMatch(QString::fromLatin1(chunk))) last = m;
                if (last.hasMatch() && seams.progress)
                    seams.progress(qMin(100, last.captured(1).toInt()));
            });
    });
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    Main::WaitSeconds(1);
    return encodeFailure(exitCode, partial, commandLine, errorOutput);
}

}  // namespace

bool ConvertToMP3(const QString& wavPath, const QString& mp3Path, const AudioSeams& seams) {
    ErrorTrap trap(*seams.prompts, "WaveMP3", "ConvertToMP3");
    const QString unusable = wavRefusal(wavPath, seams);
    QString failure = unusable.isEmpty() ? outputRefusal(mp3Path) : unusable;
    QString partial, encoderPath;
    if (failure.isEmpty()) {
        try {
            RemovePartialFiles();
            partial = CreatePartialFile(mp3Path, "mp3");
        } catch (const AppError& e) {
            failure = e.description();
        }
    }
    if (failure.isEmpty()) failure = encode(trap, wavPath, partial, seams, encoderPath);
    if (failure.isEmpty()) failure = giveName(partial, mp3Path);
    RemovePartialFiles();
    if (failure.isEmpty()) {
        Main::DeleteFileQuietly(wavPath);
    } else {
        tell(seams,
             QString("The MP3 file %1 could not be made: %2\n\n%3")
                 .arg(mp3Path, failure, keepAll({{wavPath, "", !unusable.isEmpty()}}, mp3Path)));
    }
    if (!encoderPath.isEmpty()) Main::DeleteFileQuietly(encoderPath);
    return failure.isEmpty();
}
