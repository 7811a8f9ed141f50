#pragma once

#include <QDialog>
#include <QStringList>

// What the About window tells; each fact comes from the part that owns it.
struct AboutFacts {
    QString version;
    QString toolName;
    QStringList toolFolders; // in the order they are looked in
    QString settingsFile;
    QString historyFile;
    QStringList logFiles; // as shell patterns
};

// The About window: the program's name, version and license, and where it
// looks for the firmware tool and keeps its settings, history and logs.
// "OK", Return, Escape and its close button close it; it reports finished().
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(const AboutFacts &facts, QWidget *parent = nullptr);
};
