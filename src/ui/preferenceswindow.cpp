#include "ui/preferenceswindow.h"

#include "core/geometry.h"
#include "settings/preferencesvalue.h"
#include "text/uitext.h"
#include "ui/presentwindow.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
constexpr QSize Content(360, 140);

// Child frames are laid out from the bottom-left corner of the content area.
QRect childFrame(int x, int y, int width, int height)
{
    return frameFromBottomLeft(QRect(QPoint(), Content), x, y, width, height);
}
} // namespace

// Title and close button only; closing hides it (no delete-on-close).
PreferencesWindow::PreferencesWindow(int timeoutSeconds, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(Ui::Preferences.text());
    setFixedSize(Content);
    setGeometry(frameFromBottomLeft(availableScreenArea(), 200, 200, Content.width(), Content.height()));

    auto *label = new QLabel(Ui::TimeoutLabel.text(), this);
    label->setGeometry(childFrame(20, 80, 320, 22));

    timeoutField = new QLineEdit(QString::number(timeoutSeconds), this);
    timeoutField->setGeometry(childFrame(20, 48, 120, 24));
    label->setBuddy(timeoutField); // the field's name for screen readers

    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("timeoutProblem"));
    m_problem->setGeometry(childFrame(20, 8, 210, 36));
    m_problem->setWordWrap(true);
    QFont small = m_problem->font();
    small.setPixelSize(11);
    m_problem->setFont(small);

    // Not a default button: Return in the field does not save.
    auto *saveButton = new QPushButton(Ui::Save.text(), this);
    saveButton->setGeometry(childFrame(240, 12, 100, 28));
    saveButton->setAutoDefault(false);
    connect(saveButton, &QPushButton::clicked, this, &PreferencesWindow::save);
}

void PreferencesWindow::save()
{
    const std::optional<int> seconds = parseTimeoutSeconds(timeoutField->text());
    m_problem->setText(seconds ? QString() : Ui::TimeoutInvalid.text());
    if (!seconds) {
        timeoutField->setFocus();
        timeoutField->selectAll();
        return;
    }
    emit timeoutChosen(*seconds);
}

void PreferencesWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PreferencesWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    emit closed();
}
