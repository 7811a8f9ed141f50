#include "guitest.h"
#include "logcapture.h"
#include "settings/preferencesvalue.h"
#include "text/qttranslations.h"
#include "tool/toolrun.h"
#include "ui/firmwarefiledialog.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
bool chinese()
{
    return qgetenv("QUORVALE_EXPECT_CHINESE") == "1";
}

// Installed once for the whole program, as main() does.
bool installedOnce()
{
    static const bool installed = installQtTranslations();
    return installed;
}
} // namespace

// Qt's translations missing: Qt's texts stay English, and a Chinese user's
// log says why.
TEST(QtTranslations, MissingOnesAreLogged)
{
    QTemporaryDir empty;
    LogCapture log;
    EXPECT_FALSE(installQtTranslations(empty.path()));
    EXPECT_EQ(log.texts(), chinese() ? QStringList{"Qt's Chinese translations were not found in " + empty.path()
                                                   + "; Qt's dialogs and menus stay English"}
                                     : QStringList());
}

// What Qt itself shows, the file dialog's labels and buttons and a text
// field's menu, is in the language of the program's own texts.
TEST(QtTranslations, FileDialogAndTextMenusSpeakTheProgramsLanguage)
{
    ASSERT_EQ(installedOnce(), chinese());
    FirmwareFileDialog dialog(nullptr, QDir::homePath());
    const auto *buttons = dialog.findChild<QDialogButtonBox *>();
    ASSERT_NE(buttons, nullptr);
    QLineEdit field;
    const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    const struct {
        const char *name;
        QString shown;
        const char *english, *chinese;
    } texts[] = {
        {"look in", dialog.findChild<QLabel *>(QStringLiteral("lookInLabel"))->text(), "Look in:", "查找范围："},
        {"file name", dialog.findChild<QLabel *>(QStringLiteral("fileNameLabel"))->text(), "File &name:", "文件名称(&N)："},
        {"open", buttons->button(QDialogButtonBox::Open)->text(), "&Open", "打开(&O)"},
        {"cancel", buttons->button(QDialogButtonBox::Cancel)->text(), "Cancel", "取消"},
        {"a field's undo", menu->actions().value(0)->text().section(u'\t', 0, 0), "&Undo", "撤消(&U)"},
        {"a field's copy", menu->actions().value(4)->text().section(u'\t', 0, 0), "&Copy", "复制(&C)"},
    };
    for (const auto &t : texts) {
        SCOPED_TRACE(t.name);
        EXPECT_EQ(t.shown, expectedText(t.english, t.chinese));
    }
}

// Every log line is English: the reasons Qt gives for a failed file or
// process, which the program writes into its log, stay English too.
TEST(QtTranslations, ReasonsForTheLogStayEnglish)
{
    ASSERT_EQ(installedOnce(), chinese());
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("settings.conf")));
    const std::optional<QString> unsaved = saveTimeoutSeconds(dir.filePath(QStringLiteral("settings.conf")), 30);
    ASSERT_TRUE(unsaved);

    QFile script(dir.filePath(QStringLiteral("not-executable")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\n") > 0);
    script.close();
    ToolRun run(FirmwareTool(script.fileName()), {}, ToolLogKind::Sync, {}, dir.path());
    QSignalSpy finished(&run, &ToolRun::finished);
    run.start();
    ASSERT_TRUE(finished.count() || finished.wait(10000));

    const struct {
        const char *name;
        QString reason, english;
    } reasons[] = {
        {"a settings file that is a folder", unsaved->section(QStringLiteral(": "), -1), "Filename refers to a directory"},
        {"a log in a missing folder", ToolLogWriter(ToolLogKind::Sync, dir.filePath(QStringLiteral("gone"))).finish().error,
         "No such file or directory"},
        {"a tool that cannot start", run.result().launchError.section(QStringLiteral(": "), -1), "Permission denied"},
    };
    for (const auto &r : reasons) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.reason, r.english);
    }
}
