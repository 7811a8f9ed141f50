#pragma once

#include <QString>

#include <memory>

class QLineEdit;
class QPushButton;
class QWidget;

// The preferences window, not shown yet: the timeout label, the value field
// holding `value`, and "Save", which the caller connects.
struct PreferencesWindow {
    std::unique_ptr<QWidget> window;
    QLineEdit *field; // owned by window
    QPushButton *save; // owned by window
};
PreferencesWindow buildPreferencesWindow(const QString &value);
