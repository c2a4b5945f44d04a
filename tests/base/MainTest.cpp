// The shared utilities: waiting, files, the desktop folder, the title, the private temp folder.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "AppError.h"
#include "Main.h"

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

}  // namespace

class MainTest : public QObject {
    Q_OBJECT
private slots:
    void waitReturnsAtOnceWithoutMessagesForNoTime_data() {
        QTest::addColumn<double>("seconds");
        QTest::newRow("zero") << 0.0;
        QTest::newRow("negative") << -2.5;
    }
    void waitReturnsAtOnceWithoutMessagesForNoTime() {
        QFETCH(double, seconds);
        bool delivered = false;
        QTimer::singleShot(0, this, [&] { delivered = true; });
        QElapsedTimer clock;
        clock.start();
        Main::WaitSeconds(seconds);
        QVERIFY(clock.elapsed() < 50);
        QVERIFY(!delivered);
        QTRY_VERIFY(delivered);
    }

    void waitHonoursFractionsAndKeepsMessagesFlowing() {
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(20);
        QElapsedTimer clock;
        clock.start();
        Main::WaitSeconds(0.3);
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= 295 && elapsed < 600, qPrintable(QString::number(elapsed)));
        QVERIFY2(ticks >= 5, "the wait must let timers and window messages through");
    }

    void waitDoesNotSpinAProcessor() {
        const double before = cpuSeconds();
        Main::WaitSeconds(1);
        const double used = cpuSeconds() - before;
        QVERIFY2(used < 0.2,
                 qPrintable(QString("CPU seconds for a one-second wait: %1").arg(used)));
    }

    void fileExists() {
        QTemporaryDir dir;
        const QString file = dir.filePath("a.wav");
        writeFile(file, "x");
        QVERIFY(Main::FileExists(file));
        QVERIFY(!Main::FileExists(""));
        QVERIFY(!Main::FileExists(dir.filePath("missing.wav")));
        QVERIFY(!Main::FileExists(dir.filePath("no/such/folder/a.wav")));
    }

    void deletesQuietlyAndForced() {
        QTemporaryDir dir;
        Main::DeleteFileQuietly(dir.filePath("missing.wav"));  // no throw, nothing shown

        const QString readOnly = dir.filePath("ro.wav");
        writeFile(readOnly, "x");
        QFile::setPermissions(readOnly, QFileDevice::ReadOwner);
        Main::DeleteFileForced(readOnly);
        QVERIFY(!QFile::exists(readOnly));
        QVERIFY_THROWS_EXCEPTION(AppError, Main::DeleteFileForced(readOnly));

        writeFile(readOnly, "x");
        QFile::setPermissions(readOnly, QFileDevice::ReadOwner);
        Main::DeleteFileQuietly(readOnly);
        QVERIFY(!QFile::exists(readOnly));
    }

    void writeBytesLeavesExactlyTheBytesGiven() {
        QTemporaryDir dir;
        const QString path = dir.filePath("lame.exe");
        writeFile(path, QByteArray(100, 'o'));
        Main::WriteBytesToFile(QByteArray("0123456789"), path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("0123456789"));
        QVERIFY_THROWS_EXCEPTION(AppError,
                                 Main::WriteBytesToFile("x", dir.filePath("no/such/file")));
    }

    void desktopFolder() {
        QCOMPARE(Main::GetSpecialFolderPath(77), QString());
        const QString desktop = Main::GetSpecialFolderPath(0);
        QVERIFY(!desktop.isEmpty());
        QVERIFY(!desktop.contains(QChar(0)) && !desktop.endsWith(' '));
        QCOMPARE(Main::GetDesktopFolder(), desktop + "/");
    }

    void applicationTitle_data() {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("title");
        QTest::newRow("product name") << "Vocorda Call Recorder"
                                      << "Vocorda Call";
        QTest::newRow("two words") << "Vocorda Recorder"
                                   << "Vocorda";
        QTest::newRow("long name cut to 40")
            << "Vocorda Call Recorder for Conversations With Many People"
            << "Vocorda Call Recorder for Conversations";
    }
    void applicationTitle() {
        QFETCH(QString, product);
        QFETCH(QString, title);
        QCOMPARE(Main::MakeApplicationTitle(product), title);
    }

    void applicationTitleIsSetOnceForTheProgram() {
        QVERIFY_THROWS_EXCEPTION(AppError, Main::MakeApplicationTitle("Vocorda"));
        Main::SetApplicationTitle();
        QCOMPARE(Main::ApplicationTitle(), QString("Vocorda Call"));
    }

    // Without TEMP the call is kept on the disk, under the home folder, where a reboot leaves it.
    void tempFolderIsTheStateFolderWhenTempIsUnset() {
        QTemporaryDir home;
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_STATE_HOME", "relative/is/ignored");
        QCOMPARE(Main::TempFile("mic.wav"),
                 home.path() + "/.local/state/vocorda-call-recorder/mic.wav");
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(home.path() + "/.local").constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);  // parents it makes are private too
        qputenv("XDG_STATE_HOME", home.filePath("state").toLocal8Bit());
        QCOMPARE(Main::TempFolder(), home.filePath("state/vocorda-call-recorder"));
        qunsetenv("XDG_STATE_HOME");
        qunsetenv("HOME");
    }

    // TEMP of any kind, the user's own folder too, holds the call only in a private folder of
    // the program's own: no file of the user's there is ever taken for ours.
    void tempGetsAPrivateFolderInside_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("the user's alone") << "0700";
        QTest::newRow("others may read") << "0755";
        QTest::newRow("others may write") << "1777";
        QTest::newRow("a link") << "link";
        QTest::newRow("another user's") << "owner";
    }
    void tempGetsAPrivateFolderInside() {
        QFETCH(QString, kind);
        if (kind == "owner" && ::getuid() != 0) QSKIP("needs root to give a folder away");
        QTemporaryDir dir;
        QString temp = dir.filePath("temp");
        QVERIFY(QDir().mkdir(temp));
        const QByteArray native = temp.toLocal8Bit();
        if (kind == "link") {
            QVERIFY(QFile::link(temp, dir.filePath("link")));
            temp = dir.filePath("link");
        } else if (kind == "owner") {
            QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        } else {
            QCOMPARE(::chmod(native.constData(), kind.toUInt(nullptr, 8)), 0);
        }
        qputenv("TEMP", temp.toLocal8Bit());
        const QString own = temp + QString("/vocorda-call-recorder-%1").arg(::getuid());
        QCOMPARE(Main::TempFolder(), own);
        struct stat st {};
        QCOMPARE(::lstat(own.toLocal8Bit().constData(), &st), 0);
        QVERIFY(S_ISDIR(st.st_mode) && (st.st_mode & 0777) == 0700);
        qunsetenv("TEMP");
    }

    void privateTempFolderIsCreatedOwnerOnly() {
        QTemporaryDir system;
        qputenv("TEMP", system.path().toLocal8Bit());
        const QString folder = Main::TempFolder();
        QVERIFY(folder.startsWith(system.path() + "/"));
        struct stat st {};
        QCOMPARE(::lstat(folder.toLocal8Bit().constData(), &st), 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(st.st_mode & 0777, 0700u);
        QCOMPARE(st.st_uid, ::getuid());

        ::chmod(folder.toLocal8Bit().constData(), 0777);  // loosened by someone: tightened again
        QCOMPARE(Main::TempFolder(), folder);
        ::lstat(folder.toLocal8Bit().constData(), &st);
        QCOMPARE(st.st_mode & 0777, 0700u);
        qunsetenv("TEMP");
    }

    void privateTempFolderRefusesALinkOrAFile() {
        QTemporaryDir system;
        qputenv("TEMP", system.path().toLocal8Bit());
        const QString expected =
            system.path() + QString("/vocorda-call-recorder-%1").arg(::getuid());
        QTemporaryDir elsewhere;
        QVERIFY(QFile::link(elsewhere.path(), expected));
        QVERIFY_THROWS_EXCEPTION(AppError, Main::TempFolder());
        QFile::remove(expected);
        writeFile(expected, "planted");
        QVERIFY_THROWS_EXCEPTION(AppError, Main::TempFolder());
        qunsetenv("TEMP");
    }

    void privateTempFolderRefusesAForeignOwner() {
        if (::getuid() != 0) QSKIP("needs root to give the folder to another user");
        QTemporaryDir system;
        qputenv("TEMP", system.path().toLocal8Bit());
        const QString expected =
            system.path() + QString("/vocorda-call-recorder-%1").arg(::getuid());
        QVERIFY(QDir().mkdir(expected));
        QCOMPARE(::chown(expected.toLocal8Bit().constData(), 65534, 65534), 0);
        try {
            Main::TempFolder();
            QFAIL("a folder of another user was accepted");
        } catch (const AppError& e) {
            QVERIFY2(e.description().contains("another user"), qPrintable(e.description()));
        }
        qunsetenv("TEMP");
    }
};

QTEST_GUILESS_MAIN(MainTest)
#include "MainTest.moc"
