#include "SkinFramework.h"

#include <QFile>
#include <QStringDecoder>
#include <QWidget>

#include "AppError.h"

void SkinFramework::LoadSkin(const QString& path, const QString& /*iniFileName*/) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QString("The skin %1 cannot be read: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError() || bytes.contains('\0'))
        throw AppError(QString("The skin %1 is not a valid skin file.").arg(path));
    m_styleSheet = text;
}

void SkinFramework::ApplyWindow(QWidget* window) const {
    if (!isLoaded() || !window) throw AppError("No skin is loaded.");
    window->setStyleSheet(m_styleSheet);
}
