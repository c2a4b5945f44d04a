// Vocorda Call Recorder: records both sides of a voice call into one MP3 file.
#include "Main.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "DesktopFileLauncher.h"
#include "EndSignals.h"
#include "Form1.h"
#include "PulseCallClient.h"
#include "QtPrompts.h"
#include "SettingsStore.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QtPrompts prompts;
    SettingsStore settings(SettingsStore::userFolder());
    DesktopFileLauncher launcher;
    Form1 form({.prompts = &prompts,
                .settings = &settings,
                .launcher = &launcher,
                .callClient = [] { return std::make_unique<PulseCallClient>(); },
                .programFolder = Main::ProgramFolder(),
                // Closing ends the program whatever is under way, even inside a nested wait.
                .endProgram =
                    [] {
                        std::fflush(nullptr);
                        std::_Exit(0);
                    }});
    EndSignals endSignals(form);
    form.start();
    return app.exec();
}
