// The window-skinning engine: a skin file is a Qt style sheet applied to the whole window.
#pragma once

#include <QString>

class QWidget;

class SkinFramework {
public:
    // Throws AppError when the file cannot be read or is not a text style sheet.
    void LoadSkin(const QString& path, const QString& iniFileName);
    // Bit 0 asks that the skin's colours be applied too.
    int ApplyOptions = 0;
    bool AutoApplyNewWindows = false;
    bool AutoApplyNewThreads = false;
    void ApplyWindow(QWidget* window) const;

    bool isLoaded() const { return !m_styleSheet.isNull(); }

private:
    QString m_styleSheet;
};
