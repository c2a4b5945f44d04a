// A logout (SIGHUP), `kill` (SIGTERM) or Ctrl+C in a terminal (SIGINT) ends the program as
// closing its window does: the call under way is left whole for the next start, and nothing
// half-written stays at the user's path. The signal only wakes the event loop; the window is
// closed from there.
#pragma once

#include <QObject>

class QSocketNotifier;
class QWidget;

class EndSignals : public QObject {
    Q_OBJECT
public:
    // One per program: the signals' handlers are the process's own.
    explicit EndSignals(QWidget& window);
    ~EndSignals() override;

private:
    QSocketNotifier* m_notifier = nullptr;
};
