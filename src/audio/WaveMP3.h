// The end of a call: mixing its two sides into one WAV file and encoding that to MP3 with the
// LAME encoder the program carries. Both report their own failures and never lose the
// recording: on failure the inputs are kept beside the chosen MP3 file (see SafePlace.h).
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class Prompts;

struct AudioSeams {
    Prompts* prompts = nullptr;
    // The progress bar, 0 to 100.
    std::function<void(int)> progress;
    // The encoder's executable; the embedded LAME unless a test gives a stand-in.
    std::function<QByteArray()> encoderBytes;
};

// The embedded encoder (resource type "CUSTOM", id 101).
QByteArray LoadEncoderResource();

// Mixes firstPath and secondPath into TEMP/result.wav and deletes both inputs. On failure the
// inputs are kept (beside mp3Path) and one message says where; returns whether it succeeded.
bool MergeWave(const QString& firstPath, const QString& secondPath, const QString& mp3Path,
               const AudioSeams& seams);

// The encoder's command line as text, each path in double quotes.
QString EncoderCommandLine(const QString& encoderPath, const QString& wavPath,
                           const QString& mp3Path);

// Encodes wavPath to mp3Path and deletes wavPath. Succeeds only when the encoder ran, exited
// with 0 and left a non-empty MP3 file; otherwise the WAV is kept, one message says where, and
// no part of an MP3 is left.
bool ConvertToMP3(const QString& wavPath, const QString& mp3Path, const AudioSeams& seams);
