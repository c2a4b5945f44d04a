// Starts a program and waits for it with the window kept alive, polling every 100 ms.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <functional>
#include <optional>

inline constexpr int kRunStartFailed = -1;
inline constexpr int kRunCrashed = -2;

// Window styles 0 (hidden) to 6 (minimized without focus); a missing or unknown one gives 6.
int EffectiveWindowStyle(std::optional<int> windowStyle);

// program and arguments are passed as they are, never through a shell. Returns the exit code;
// kRunStartFailed at once when the program cannot be started, kRunCrashed when it was killed.
// onErrorOutput receives what the program writes to its error output, as it comes.
int RunAndWait(const QString& program, const QStringList& arguments,
               std::optional<int> windowStyle = std::nullopt,
               const std::function<void(const QByteArray&)>& onErrorOutput = {});
