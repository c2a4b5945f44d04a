// The one failure type of the program: utilities throw it, the error traps report it.
#pragma once

#include <QString>
#include <stdexcept>

class AppError : public std::runtime_error {
public:
    explicit AppError(const QString& description) : std::runtime_error(description.toStdString()) {}

    QString description() const { return QString::fromStdString(what()); }
};
