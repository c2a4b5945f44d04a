#include "SettingsStore.h"

#include <QSettings>
#include <QStandardPaths>

SettingsStore::SettingsStore(QString folder) : m_folder(std::move(folder)) {}

QString SettingsStore::userFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString SettingsStore::filePath(const QString& appKey) const {
    return m_folder + "/" + appKey + ".conf";
}

QString SettingsStore::read(const QString& appKey, const QString& section, const QString& key,
                            const QString& defaultValue) const {
    const QSettings store(filePath(appKey), QSettings::IniFormat);
    const QString name = section + "/" + key;
    return store.contains(name) ? store.value(name).toString() : defaultValue;
}

bool SettingsStore::write(const QString& appKey, const QString& section, const QString& key,
                          const QString& value) const {
    QSettings store(filePath(appKey), QSettings::IniFormat);
    store.setValue(section + "/" + key, value);
    store.sync();
    return store.status() == QSettings::NoError;
}
