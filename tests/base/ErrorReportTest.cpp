// The "Application Error" report: its exact text, and the trap's go-on-after-a-failure rules.
#include <QtTest>

#include "AppError.h"
#include "ErrorReport.h"
#include "FakePrompts.h"

namespace {

void failingHelper() {
    throw AppError("File not found");
}

}  // namespace

class ErrorReportTest : public QObject {
    Q_OBJECT
private slots:
    void reportTextIsByteExact() {
        FakePrompts prompts;
        ShowErrorReport(prompts, "in VocordaCallRecorder2021/08/31.Form1.PushButton2_Click ", 106,
                        "Dialog failed");
        QCOMPARE(prompts.messages.size(), 1);
        const MessageRequest& box = prompts.messages[0];
        QCOMPARE(
            box.text,
            QString("Dialog failed\r\nin VocordaCallRecorder2021/08/31.Form1.PushButton2_Click "
                    "at line 106\r\rPlease email screenshot of this message to ") +
                kSupportAddress);
        QCOMPARE(box.title, QString("Application Error"));
        QCOMPARE(box.icon, MessageIcon::Warning);
        QCOMPARE(box.buttons, MessageButtons::Ok);
    }

    void mixerReportCarriesItsCounters() {
        FakePrompts prompts;
        ErrorTrap trap(prompts, "WaveMP3", "MergeWave");
        int lCnt = 512;
        trap.setExtra(
            [&] { return QString("lCnt: %1\r\nNFO(Index).DataSize: %2").arg(lCnt).arg(0); });
        trap.run(140, [] { throw AppError("Division by zero"); });
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY(prompts.messages[0].text.startsWith(
            "Division by zero\r\nin VocordaCallRecorder2021/08/31.WaveMP3.MergeWave at line "
            "140\r\r"));
        QVERIFY(prompts.messages[0].text.endsWith(QString(kSupportAddress) +
                                                  "\r\nlCnt: 512\r\nNFO(Index).DataSize: 0"));
    }

    void twoFailuresGiveTwoReportsAndEveryOtherStatementRuns() {
        FakePrompts prompts;
        ErrorTrap trap(prompts, "Form1", "PushButton6_Click");
        QStringList ran;
        trap.run(100, [&] { ran << "100"; });
        trap.run(102, [&] { throw AppError("first"); });
        trap.run(104, [&] { ran << "104"; });
        trap.run(106, [&] { failingHelper(); });  // a helper without a trap counts on this line
        trap.run(108, [&] { ran << "108"; });
        QCOMPARE(ran, QStringList({"100", "104", "108"}));
        QCOMPARE(prompts.messages.size(), 2);
        QVERIFY(prompts.messages[0].text.startsWith("first\r\n"));
        QVERIFY(prompts.messages[0].text.contains("PushButton6_Click at line 102\r\r"));
        QVERIFY(prompts.messages[1].text.startsWith("File not found\r\n"));
        QVERIFY(prompts.messages[1].text.contains("at line 106\r\r"));
        QCOMPARE(trap.reportCount(), 2);
    }

    void failingTestRunsWhatItGuards() {
        FakePrompts prompts;
        ErrorTrap trap(prompts, "Form1", "Form_Load");
        bool guardedRan = false;
        if (trap.test(104, []() -> bool { throw AppError("Bad file name"); })) guardedRan = true;
        QVERIFY(guardedRan);
        QVERIFY(!trap.test(104, [] { return false; }));
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY(prompts.messages[0].text.contains("Form_Load at line 104"));
    }

    void standardExceptionsAreReportedToo() {
        FakePrompts prompts;
        ErrorTrap trap(prompts, "WaveMP3", "ConvertToMP3");
        QVERIFY(trap.run(112, [] { throw std::bad_alloc(); }));
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY(prompts.messages[0].text.contains("ConvertToMP3 at line 112"));
    }
};

QTEST_GUILESS_MAIN(ErrorReportTest)
#include "ErrorReportTest.moc"
