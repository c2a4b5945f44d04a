#include "RunAndWait.h"

#include <QCoreApplication>
#include <QProcess>

#include "Main.h"

namespace {

constexpr int kMinimizedNoFocus = 6;
constexpr double kPollSeconds = 0.1;

}  // namespace

int EffectiveWindowStyle(std::optional<int> windowStyle) {
    if (!windowStyle || *windowStyle < 0 || *windowStyle > kMinimizedNoFocus)
        return kMinimizedNoFocus;
    return *windowStyle;
}

int RunAndWait(const QString& program, const QStringList& arguments, std::optional<int> windowStyle,
               const std::function<void(const QByteArray&)>& onErrorOutput) {
    // Desktop programs here have no console window to show or hide; the rule stays for callers.
    (void)EffectiveWindowStyle(windowStyle);
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(&process, &QProcess::readyReadStandardError, [&] {
        const QByteArray chunk = process.readAllStandardError();
        if (onErrorOutput) onErrorOutput(chunk);
    });
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted()) return kRunStartFailed;
    bool running = true;
    do {
        running = process.state() != QProcess::NotRunning;
        QCoreApplication::processEvents();
        Main::WaitSeconds(kPollSeconds);
    } while (running);
    if (onErrorOutput) onErrorOutput(process.readAllStandardError());
    return process.exitStatus() == QProcess::CrashExit ? kRunCrashed : process.exitCode();
}
