// The common "Application Error" report and the trap that the six trapping procedures run their
// numbered lines under: a failing statement is reported and execution goes on with the next one.
#pragma once

#include <QString>
#include <functional>

class Prompts;

inline constexpr char kSupportAddress[] = "vocorda.support@example.com";
inline constexpr char kLocationPrefix[] = "in VocordaCallRecorder2021/08/31.";

QString ErrorReportText(const QString& location, int lineNumber, const QString& description,
                        const QString& extra = {});
void ShowErrorReport(Prompts& prompts, const QString& location, int lineNumber,
                     const QString& description, const QString& extra = {});

class ErrorTrap {
public:
    // module and procedure name the location, e.g. "Form1" and "Form_Load".
    ErrorTrap(Prompts& prompts, const QString& module, const QString& procedure);

    // Extra lines appended to every report (the mixer's counters), built when the report is.
    void setExtra(std::function<QString()> extra) { m_extra = std::move(extra); }

    // Runs one statement of line `number`. Returns true when it failed (and was reported).
    bool run(int number, const std::function<void()>& statement);
    // A conditional test on line `number`: a test that fails counts as passed, so the statements
    // it guards run.
    bool test(int number, const std::function<bool()>& condition);

    int reportCount() const { return m_reports; }
    // The description of the last failure reported, empty when none was.
    QString lastFailure() const { return m_lastFailure; }

private:
    void report(int number, const QString& description);

    Prompts& m_prompts;
    QString m_location;
    std::function<QString()> m_extra;
    int m_reports = 0;
    QString m_lastFailure;
};
