// The real main window, offscreen: layout, start-up, the output path and its settings, the hand
// pointer, the error reports of start-up.
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "ErrorReport.h"
#include "FakePrompts.h"
#include "Form1.h"
#include "SettingsStore.h"

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QString reportText(const QString& description, int line) {
    return description + "\r\nin VocordaCallRecorder2021/08/31.Form1.Form_Load at line " +
           QString::number(line) + "\r\rPlease email screenshot of this message to " +
           kSupportAddress;
}

void sendMouseMove(QWidget* target) {
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), target->mapToGlobal(QPointF(3, 3)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
}

}  // namespace

class Form1Test : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_programDir;
    std::unique_ptr<SettingsStore> m_settings;
    FakePrompts m_prompts;
    int m_endCalls = 0;

    std::unique_ptr<Form1> makeForm() {
        return std::make_unique<Form1>(Form1::Seams{.prompts = &m_prompts,
                                                    .settings = m_settings.get(),
                                                    .programFolder = m_programDir->path(),
                                                    .endProgram = [this] { ++m_endCalls; }});
    }
    QString stored() const {
        return m_settings->read(kAppKey, kSection, kOutputPathKey, "<absent>");
    }

private slots:
    void init() {
        m_settingsDir = std::make_unique<QTemporaryDir>();
        m_programDir = std::make_unique<QTemporaryDir>();
        m_settings = std::make_unique<SettingsStore>(m_settingsDir->path());
        qputenv("TEMP", m_settingsDir->path().toLocal8Bit());  // no stale recording to offer
        m_prompts = FakePrompts();
        m_endCalls = 0;
    }

    void layoutAsDesigned() {
        auto form = makeForm();
        form->start();
        QCOMPARE(form->size(), QSize(536, 172));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form->windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(form->windowTitle(), QString("Vocorda Call Recorder"));
        QCOMPARE(form->palette().color(QPalette::Window), QColor(Qt::white));
        const QList<std::pair<QString, QRect>> designed = {
            {"PushButton13", QRect(8, 8, 520, 27)},  {"Frame3", QRect(8, 39, 520, 55)},
            {"Text3", QRect(16, 20, 441, 23)},       {"PushButton2", QRect(464, 20, 40, 23)},
            {"PushButton6", QRect(8, 102, 520, 27)}, {"ProgressBar1", QRect(8, 137, 520, 27)}};
        for (const auto& [name, rect] : designed) {
            auto* control = form->findChild<QWidget*>(name);
            QVERIFY2(control, qPrintable(name));
            QCOMPARE(control->geometry(), rect);
            QVERIFY(control->isVisible() && control->isEnabled());
        }
        QCOMPARE(form->Text3->parentWidget(), form->Frame3);
        QCOMPARE(form->PushButton2->parentWidget(), form->Frame3);
        QCOMPARE(form->PushButton6->text(), QString("Start Recording"));
        QCOMPARE(form->Frame3->title(), QString("Save Results To This File"));
        QCOMPARE(form->ProgressBar1->text(), QString("Progress Bar"));
        QCOMPARE(form->ProgressBar1->maximum(), 100);
        QCOMPARE(form->PushButton6->font().family(), QString("Arial"));
        QCOMPARE(form->PushButton6->font().pointSizeF(), 11.25);
        QVERIFY(form->Text3->font().bold());
    }

    void tabOrderAndFocusSelectsThePath() {
        auto form = makeForm();
        form->start();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTRY_COMPARE(QApplication::focusWidget(), form->Text3);
        QCOMPARE(form->Text3->selectedText(), form->Text3->text());
        QStringList order;
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, QStringList({"PushButton2", "PushButton6", "PushButton13", "Text3"}));
        QCOMPARE(form->Text3->selectedText(), form->Text3->text());
    }

    void firstStartShowsAndStoresTheDesktopPath() {
        QCOMPARE(stored(), QString("<absent>"));
        auto form = makeForm();
        form->start();
        const QString expected =
            QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + "/Conversation.mp3";
        QCOMPARE(form->Text3->text(), expected);
        QCOMPARE(stored(), expected);
        QVERIFY(m_prompts.messages.isEmpty());
    }

    void everyChangeIsStoredAndAnEmptyPathComesBackEmpty() {
        auto form = makeForm();
        form->start();
        form->Text3->selectAll();
        QTest::keyClicks(form->Text3, "/calls/a");
        QCOMPARE(stored(), QString("/calls/a"));
        form->Text3->clear();
        QCOMPARE(stored(), QString());
        form.reset();
        auto again = makeForm();
        again->start();
        QCOMPARE(again->Text3->text(), QString());
    }

    void browseOpensTheSaveDialogAndTakesThePathUnchanged() {
        auto form = makeForm();
        form->start();
        m_prompts.nextFileNames.enqueue("/calls/monday");
        form->PushButton2->click();
        QCOMPARE(m_prompts.saveDialogs.size(), 1);
        const SaveFileRequest& dialog = m_prompts.saveDialogs[0];
        QCOMPARE(dialog.title, QString("Save File As"));
        QCOMPARE(dialog.filter, QString("MP3 Audio File (*.mp3)|*.mp3|"));
        QCOMPARE(dialog.fileName, QString());
        QCOMPARE(form->Text3->text(), QString("/calls/monday"));
        QCOMPARE(stored(), QString("/calls/monday"));

        form->PushButton2->click();  // cancelled
        QCOMPARE(m_prompts.saveDialogs.size(), 2);
        QCOMPARE(m_prompts.saveDialogs[1].fileName, QString());
        QCOMPARE(form->Text3->text(), QString("/calls/monday"));
        QCOMPARE(stored(), QString("/calls/monday"));
        QVERIFY(m_prompts.messages.isEmpty());
    }

    void withoutSkinTheWindowStaysWhite() {
        auto form = makeForm();
        form->start();
        QVERIFY(!form->skin().isLoaded());
        QCOMPARE(form->styleSheet(), QString());
        QCOMPARE(form->Frame3->palette().color(QPalette::Window), QColor(Qt::white));
    }

    void skinIsAppliedFromTheProgramFolder() {
        writeFile(m_programDir->filePath("x/o.cjs"), "QPushButton { color: navy; }");
        auto form = makeForm();
        form->start();
        QVERIFY(form->skin().isLoaded());
        QCOMPARE(form->skin().ApplyOptions & 1, 1);
        QVERIFY(form->styleSheet().contains("QPushButton"));
        const QColor buttonFace = QApplication::palette().color(QPalette::Button);
        QCOMPARE(form->palette().color(QPalette::Window), buttonFace);
        QCOMPARE(form->Frame3->palette().color(QPalette::Window), buttonFace);
        QVERIFY(m_prompts.messages.isEmpty());
    }

    void sampleSkinLoads() {
        SkinFramework skin;
        skin.LoadSkin(VOCORDA_RESOURCES "/x/o.cjs", QString());
        QVERIFY(skin.isLoaded());
    }

    void handPointerOverTheButtonsOnly() {
        QVERIFY(QFile::copy(VOCORDA_RESOURCES "/HAND-M.CUR", m_programDir->filePath("HAND-M.CUR")));
        auto form = makeForm();
        form->start();
        QVERIFY(form->hasCustomPointer());
        QCOMPARE(form->mousePointer(), 0);
        for (QWidget* button : {form->PushButton2, form->PushButton6, form->PushButton13}) {
            sendMouseMove(form.get());
            QCOMPARE(form->cursor().shape(), Qt::ArrowCursor);
            sendMouseMove(button);
            QCOMPARE(form->mousePointer(), 99);
            QCOMPARE(button->cursor().shape(), Qt::BitmapCursor);
            QCOMPARE(form->cursor().hotSpot(), QPoint(9, 0));
        }
        sendMouseMove(form->Frame3);
        QCOMPARE(form->mousePointer(), 0);
        QCOMPARE(form->cursor().shape(), Qt::ArrowCursor);
    }

    void withoutCursorFileTheArrowStays() {
        auto form = makeForm();
        form->start();
        QVERIFY(!form->hasCustomPointer());
        sendMouseMove(form->PushButton6);
        QCOMPARE(form->mousePointer(), 99);
        QCOMPARE(form->cursor().shape(), Qt::ArrowCursor);
    }

    void damagedCursorIsReportedAndStartUpGoesOn() {
        writeFile(m_programDir->filePath("HAND-M.CUR"), "not a cursor at all, just text");
        auto form = makeForm();
        form->start();
        QCOMPARE(m_prompts.messages.size(), 1);
        const QString description =
            "Invalid picture: " + m_programDir->filePath("HAND-M.CUR") + " is not a cursor file";
        QCOMPARE(m_prompts.messages[0].text, reportText(description, 106));
        QCOMPARE(m_prompts.messages[0].title, QString("Application Error"));
        QCOMPARE(form->windowTitle(), QString("Vocorda Call Recorder"));
        QVERIFY(!form->Text3->text().isEmpty());
    }

    void twoFailingStepsGiveTwoReports() {
        writeFile(m_programDir->filePath("x/o.cjs"), QByteArray("\xff\xfe\0\0garbage", 11));
        writeFile(m_programDir->filePath("HAND-M.CUR"), QByteArray(30, '\0'));
        auto form = makeForm();
        form->start();
        QCOMPARE(m_prompts.messages.size(), 2);
        QCOMPARE(m_prompts.messages[0].text,
                 reportText(
                     "The skin " + m_programDir->filePath("x/o.cjs") + " is not a valid skin file.",
                     100));
        QVERIFY(m_prompts.messages[1].text.contains("Form_Load at line 106\r\r"));
        QCOMPARE(form->windowTitle(), QString("Vocorda Call Recorder"));
    }

    void closingEndsTheProgram() {
        auto form = makeForm();
        form->start();
        form->close();
        QCOMPARE(m_endCalls, 1);
    }
};

QTEST_MAIN(Form1Test)
#include "Form1Test.moc"
