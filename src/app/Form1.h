// The main window: start-up, the output path and its browse button, the hand pointer over the
// buttons. The work behind the buttons lives in the layers below; this class wires it up.
#pragma once

#include <QCursor>
#include <QWidget>
#include <functional>
#include <optional>

#include "Form1Ui.h"
#include "RecordingControl.h"
#include "RecordingView.h"
#include "SkinFramework.h"

class FileLauncher;
class Prompts;
class SettingsStore;

inline constexpr char kAppKey[] = "Kerrimand";
inline constexpr char kSection[] = "Vocorda Call Recorder";
inline constexpr char kOutputPathKey[] = "Text3";

class Form1 : public QWidget, public Form1Ui, private RecordingView {
    Q_OBJECT
public:
    // What the window needs from outside; tests give fakes and temporary folders.
    struct Seams {
        Prompts* prompts = nullptr;
        SettingsStore* settings = nullptr;
        FileLauncher* launcher = nullptr;
        // Makes the call-client object, anew on every "Start Recording".
        SkypeFactory callClient;
        // The encoder to write out; empty for the embedded one.
        std::function<QByteArray()> encoderBytes;
        QString programFolder;
        // Ends the process at once; closing the window calls it.
        std::function<void()> endProgram;
    };

    explicit Form1(Seams seams);

    // Form_Load, then shows the window centred on its screen.
    void start();
    void Form_Load();

    // 0 for the default arrow, 99 for the custom pointer image.
    int mousePointer() const { return m_mousePointer; }
    const SkinFramework& skin() const { return SkinFramework1; }
    const RecordingControl& recording() const { return m_recording; }
    bool hasCustomPointer() const { return m_customPointer.has_value(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ApplySkin();
    void PushButton2_Click();
    void Text3_Change(const QString& text);
    void Text3_GotFocus();
    void setMousePointer(int pointer);

    // RecordingView
    void setStartEnabled(bool enabled) override;
    void resetMousePointer() override;
    void setProgress(int percent) override;
    void resetProgress() override;
    QString outputPath() const override;
    void runAccessHelp() override;
    void askAttention() override;

    QString skinPath() const;
    QString cursorPath() const;

    Seams m_seams;
    SkinFramework SkinFramework1;
    RecordingControl m_recording;
    std::optional<QCursor> m_customPointer;
    int m_mousePointer = 0;
    bool m_settingsFailureShown = false;
};
