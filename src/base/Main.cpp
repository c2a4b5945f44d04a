#include "Main.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <chrono>
#include <cmath>

#include "AppError.h"

namespace Main {
namespace {

constexpr char kTitleProperty[] = "vocordaApplicationTitle";

QString invalidArgument() {
    return QStringLiteral("Invalid procedure call or argument");
}

// Makes the folder's missing parents, private as the base directories ask; an error shows when
// the folder itself is made.
void makeParents(const QByteArray& folder) {
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash <= 0 || QFileInfo::exists(QString::fromLocal8Bit(folder.left(slash)))) return;
    makeParents(folder.left(slash));
    ::mkdir(folder.left(slash).constData(), 0700);
}

// Another user must not be able to plant a link or a program under our fixed file names.
void requirePrivateFolder(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    makeParents(native);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        throw AppError(QString("The temporary folder %1 cannot be created: %2")
                           .arg(path, QString::fromLocal8Bit(strerror(errno))));
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw AppError(QString("The temporary folder %1 is not a folder of its own (it is a "
                               "link or a file); remove it and try again.")
                           .arg(path));
    if (st.st_uid != ::getuid())
        throw AppError(QString("The temporary folder %1 belongs to another user.").arg(path));
    if ((st.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0)
        throw AppError(QString("The temporary folder %1 cannot be made private.").arg(path));
}

QString ownFolderIn(const QString& parent) {
    return parent + QString("/vocorda-call-recorder-%1").arg(qulonglong(::getuid()));
}

// State that must outlive a reboot, as the XDG base directories place it.
QString stateFolder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.startsWith('/')) state = QDir::homePath() + "/.local/state";
    return state + "/vocorda-call-recorder";
}

}  // namespace

void WaitSeconds(double seconds) {
    if (!(seconds > 0)) return;
    const auto duration = std::chrono::milliseconds(std::llround(seconds * 1000.0));
    QEventLoop loop;
    QTimer::singleShot(duration, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool FileExists(const QString& path) {
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    return info.isFile() && info.lastModified().isValid();
}

void DeleteFileQuietly(const QString& path) {
    QCoreApplication::processEvents();
    if (QFile::remove(path)) return;
    try {
        DeleteFileForced(path);
    } catch (const AppError&) {
        // Quiet by design: a file that stays or never was is not this caller's concern.
    }
}

void DeleteFileForced(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile()) throw AppError(QString("File not found: %1").arg(path));
    file.setPermissions(file.permissions() | QFileDevice::WriteOwner);
    if (!file.remove())
        throw AppError(QString("Permission denied: %1 (%2)").arg(path, file.errorString()));
}

void WriteBytesToFile(const QByteArray& bytes, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw AppError(QString("%1: %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw AppError(QString("%1: %2").arg(path, file.errorString()));
}

QString GetSpecialFolderPath(int folderNumber) {
    if (folderNumber != kDesktopFolderNumber) return {};
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString GetDesktopFolder() {
    const QString folder = GetSpecialFolderPath(kDesktopFolderNumber);
    if (folder.isEmpty()) throw AppError(invalidArgument());
    return folder + QDir::separator();
}

QString MakeApplicationTitle(const QString& productName) {
    QString title = productName;
    do {
        const qsizetype blank = title.lastIndexOf(' ');
        if (blank < 0) throw AppError(invalidArgument());
        title.truncate(blank);
    } while (title.size() > 40);
    return title;
}

void SetApplicationTitle() {
    QCoreApplication::instance()->setProperty(kTitleProperty, MakeApplicationTitle(kProductName));
}

QString ApplicationTitle() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app ? app->property(kTitleProperty).toString() : QString();
}

QString ProgramFolder() {
    return QCoreApplication::applicationDirPath();
}

QString TempFolder() {
    const QString temp = qEnvironmentVariable("TEMP");
    const QString folder = temp.isEmpty() ? stateFolder() : ownFolderIn(temp);
    requirePrivateFolder(folder);
    return folder;
}

QString FormerTempFolder() {
    if (qEnvironmentVariableIsSet("TEMP")) return {};
    const QString folder = ownFolderIn(QDir::tempPath());
    struct stat st {};
    const bool ours = ::lstat(QFile::encodeName(folder).constData(), &st) == 0 &&
                      S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
    return ours ? folder : QString();
}

QString TempFile(const QString& name) {
    return TempFolder() + QDir::separator() + name;
}

}  // namespace Main
