#include "Form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "AccessHelp.h"
#include "CursorFile.h"
#include "ErrorReport.h"
#include "Main.h"
#include "Prompts.h"
#include "SettingsStore.h"

namespace {

constexpr int kDefaultPointer = 0;
constexpr int kCustomPointer = 99;

}  // namespace

Form1::Form1(Seams seams)
    : m_seams(std::move(seams)),
      m_recording(m_seams.callClient, *m_seams.prompts, *this, m_seams.encoderBytes) {
    setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    for (QObject* watched : {static_cast<QObject*>(this), static_cast<QObject*>(Frame3),
                             static_cast<QObject*>(PushButton2), static_cast<QObject*>(PushButton6),
                             static_cast<QObject*>(PushButton13), static_cast<QObject*>(Text3)})
        watched->installEventFilter(this);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton6, &QPushButton::clicked, &m_recording, &RecordingControl::PushButton6_Click);
    connect(PushButton13, &QPushButton::clicked, this, &Form1::runAccessHelp);
    connect(Text3, &QLineEdit::textChanged, this, &Form1::Text3_Change);
}

void Form1::start() {
    Form_Load();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    Text3->setFocus(Qt::OtherFocusReason);
    // Asked once the window is up, so the user sees what the question is about.
    QTimer::singleShot(0, &m_recording, &RecordingControl::offerRecovery);
}

QString Form1::skinPath() const {
    return QDir(m_seams.programFolder).filePath(QStringLiteral("x/o.cjs"));
}

QString Form1::cursorPath() const {
    return QDir(m_seams.programFolder).filePath(QStringLiteral("HAND-M.CUR"));
}

void Form1::Form_Load() {
    ErrorTrap trap(*m_seams.prompts, "Form1", "Form_Load");
    trap.run(100, [&] { ApplySkin(); });
    if (trap.test(104, [&] { return Main::FileExists(cursorPath()); }))
        trap.run(106, [&] { m_customPointer = LoadCursorFile(cursorPath()); });
    trap.run(126, [&] { setWindowTitle(Main::kProductName); });
    trap.run(126, [&] { setWindowIcon(QIcon(QStringLiteral(":/vocorda/vocorda.png"))); });
    trap.run(126, [&] { Main::SetApplicationTitle(); });
    trap.run(128, [&] {
        const QString fallback = Main::GetDesktopFolder() + "Conversation.mp3";
        Text3->setText(m_seams.settings->read(kAppKey, kSection, kOutputPathKey, fallback));
    });
}

void Form1::ApplySkin() {
    const QFileInfo skin(skinPath());
    if (!skin.isFile() || skin.isHidden()) return;
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(Frame3)}) {
        QPalette palette = w->palette();
        palette.setColor(QPalette::Window, buttonFace);
        w->setPalette(palette);
    }
    SkinFramework1.LoadSkin(skin.filePath(), QString());
    SkinFramework1.ApplyOptions |= 1;
    SkinFramework1.AutoApplyNewWindows = true;
    SkinFramework1.AutoApplyNewThreads = true;
    SkinFramework1.ApplyWindow(this);
}

void Form1::PushButton2_Click() {
    ErrorTrap trap(*m_seams.prompts, "Form1", "PushButton2_Click");
    SaveFileRequest dialog;
    trap.run(100, [&] { dialog.fileName.clear(); });
    trap.run(102, [&] { dialog.title = "Save File As"; });
    trap.run(104, [&] { dialog.filter = "MP3 Audio File (*.mp3)|*.mp3|"; });
    trap.run(106, [&] { dialog.fileName = m_seams.prompts->askSaveFileName(dialog); });
    if (trap.test(108, [&] { return !dialog.fileName.isEmpty(); }))
        trap.run(110, [&] { Text3->setText(dialog.fileName); });
}

void Form1::Text3_Change(const QString& text) {
    if (m_seams.settings->write(kAppKey, kSection, kOutputPathKey, text) || m_settingsFailureShown)
        return;
    // Said once per run: a box on every keystroke would make the window unusable.
    m_settingsFailureShown = true;
    m_seams.prompts->showMessage(
        {QString("The output path cannot be remembered for the next start: %1 cannot be "
                 "written.")
             .arg(m_seams.settings->filePath(kAppKey)),
         Main::ApplicationTitle(), MessageIcon::Warning, MessageButtons::Ok});
}

void Form1::Text3_GotFocus() {
    Text3->selectAll();
}

void Form1::setMousePointer(int pointer) {
    m_mousePointer = pointer;
    if (pointer == kCustomPointer && m_customPointer)
        setCursor(*m_customPointer);
    else
        unsetCursor();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        const auto isButton = [this](const QObject* o) {
            return o == PushButton2 || o == PushButton6 || o == PushButton13;
        };
        if (isButton(watched)) {
            setMousePointer(kCustomPointer);
        } else if (watched == this || watched == Frame3) {
            // A button ignores moves it does not need, so Qt hands them on to its parent.
            const auto* move = static_cast<QMouseEvent*>(event);
            if (!isButton(static_cast<QWidget*>(watched)->childAt(move->position().toPoint())))
                setMousePointer(kDefaultPointer);
        }
    } else if (event->type() == QEvent::FocusIn && watched == Text3) {
        Text3_GotFocus();
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::setStartEnabled(bool enabled) {
    PushButton6->setEnabled(enabled);
}

void Form1::resetMousePointer() {
    setMousePointer(kDefaultPointer);
}

void Form1::setProgress(int percent) {
    ProgressBar1->setValue(percent);
    ProgressBar1->repaint();  // the mixer does not return to the event loop while it works
}

void Form1::resetProgress() {
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat("Progress Bar");
}

QString Form1::outputPath() const {
    return Text3->text();
}

void Form1::runAccessHelp() {
    PushButton13_Click(*m_seams.prompts, *m_seams.launcher, PushButton6->text(),
                       m_seams.programFolder);
}

void Form1::askAttention() {
    QApplication::alert(this);
    raise();
    activateWindow();
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    m_recording.prepareToEnd();
    if (m_seams.endProgram) m_seams.endProgram();
}
