// The per-user settings store: text values addressed by application key, section and key.
// Each application key is one file in the store's folder; nothing is cached between calls.
#pragma once

#include <QString>

class SettingsStore {
public:
    // folder: where the files live; the user's config folder in the program, a temporary
    // folder in tests.
    explicit SettingsStore(QString folder);
    static QString userFolder();

    QString read(const QString& appKey, const QString& section, const QString& key,
                 const QString& defaultValue) const;
    // Returns false when the value did not reach the store.
    [[nodiscard]] bool write(const QString& appKey, const QString& section, const QString& key,
                             const QString& value) const;

    QString filePath(const QString& appKey) const;

private:
    QString m_folder;
};
