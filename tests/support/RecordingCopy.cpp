// Another copy of the program for tests of two copies on one temporary folder: the real window
// over an in-process call client, ended by closing or a signal as the program is. It starts
// recording its call at once, says "recording" on stdout, ends the call when a line arrives on
// stdin, then prints every box it showed and exits.
// Arguments: the settings folder, the MP3 path.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>

#include "EndSignals.h"
#include "FakePrompts.h"
#include "FakeSkype.h"
#include "Form1.h"
#include "SettingsStore.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) return 2;
    FakePrompts prompts;
    SettingsStore settings{QString::fromLocal8Bit(argv[1])};
    FakeLauncher launcher;
    FakeCallWorld world;
    const auto call = std::make_shared<FakeCall>("copy-call", 1200, 330);
    world.calls = {call};
    Form1 form({.prompts = &prompts,
                .settings = &settings,
                .launcher = &launcher,
                .callClient = world.factory(),
                .endProgram = [] {
                    std::fflush(nullptr);
                    std::_Exit(0);
                }});
    EndSignals endSignals(form);
    form.start();
    form.Text3->setText(QString::fromLocal8Bit(argv[2]));
    QCoreApplication::processEvents();
    form.PushButton6->click();
    std::puts(form.recording().isRecording() ? "recording" : "not recording");
    std::fflush(stdout);
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        input.setEnabled(false);
        world.raise(call, clsFinished);
        for (const QString& text : prompts.texts()) std::puts(qPrintable(text));
        app.quit();
    });
    return app.exec();
}
