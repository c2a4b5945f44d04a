#include "AccessHelp.h"

#include <QDir>

#include "ErrorReport.h"
#include "FileLauncher.h"
#include "Main.h"
#include "Prompts.h"

QString AccessHelpText(const QString& startCaption) {
    const QStringList paragraphs = {
        "For your information: I have Skype Version 5.6.0.110 installed on my computer and this "
        "software works well with it.",
        "In order to use this software, please make sure that you have Skype open and you are "
        "logged into your account.",
        "Also, after clicking the '" + startCaption +
            "' button, Skype will ask if this software has permission to can access it. You will "
            "have to switch from looking at this software to looking at Skype and click 'Allow'.",
        "Would you like to see a video showing how this 'Allow' message appears in Skype?"};
    return paragraphs.join("\r\r");
}

void PushButton13_Click(Prompts& prompts, FileLauncher& launcher, const QString& startCaption,
                        const QString& programFolder) {
    ErrorTrap trap(prompts, "Form1", "PushButton13_Click");
    MessageAnswer answer = MessageAnswer::Yes;  // a failing question opens the video
    trap.run(100, [&] {
        answer = prompts.showMessage({AccessHelpText(startCaption), Main::ApplicationTitle(),
                                      MessageIcon::None, MessageButtons::YesNo});
    });
    if (answer != MessageAnswer::Yes) return;
    trap.run(102, [&] {
        launcher.openFile(QDir(programFolder).filePath("Help Video/Skype Allow.avi"));
    });
}
