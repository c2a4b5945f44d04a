#include "ErrorReport.h"

#include <exception>

#include "AppError.h"
#include "Prompts.h"

QString ErrorReportText(const QString& location, int lineNumber, const QString& description,
                        const QString& extra) {
    QString text = description + "\r\n" + location + "at line " + QString::number(lineNumber) +
                   "\r\r" + "Please email screenshot of this message to " + kSupportAddress;
    if (!extra.isEmpty()) text += "\r\n" + extra;
    return text;
}

void ShowErrorReport(Prompts& prompts, const QString& location, int lineNumber,
                     const QString& description, const QString& extra) {
    prompts.showMessage({ErrorReportText(location, lineNumber, description, extra),
                         "Application Error", MessageIcon::Warning, MessageButtons::Ok});
}

ErrorTrap::ErrorTrap(Prompts& prompts, const QString& module, const QString& procedure)
    : m_prompts(prompts), m_location(kLocationPrefix + module + "." + procedure + " ") {}

bool ErrorTrap::run(int number, const std::function<void()>& statement) {
    try {
        statement();
        return false;
    } catch (const AppError& e) {
        report(number, e.description());
    } catch (const std::exception& e) {
        report(number, QString::fromLocal8Bit(e.what()));
    }
    return true;
}

bool ErrorTrap::test(int number, const std::function<bool()>& condition) {
    bool result = true;
    run(number, [&] { result = condition(); });
    return result;
}

void ErrorTrap::report(int number, const QString& description) {
    ++m_reports;
    m_lastFailure = description;
    ShowErrorReport(m_prompts, m_location, number, description, m_extra ? m_extra() : QString());
}
