#include "ui/aboutwindow.h"

#include "text/uitext.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// A caption and, below it, the places it names, each a line of its own that
// a screen reader reads alone and a user can select and copy.
void addPlaces(QFormLayout *form, const QString &caption, const QStringList &places)
{
    auto *label = new QLabel(caption);
    auto *lines = new QVBoxLayout;
    lines->setSpacing(0);
    for (const QString &place : places) {
        auto *line = new QLabel(place);
        line->setTextFormat(Qt::PlainText);
        line->setTextInteractionFlags(Qt::TextSelectableByMouse);
        line->setIndent(16);
        lines->addWidget(line);
        if (!label->buddy())
            label->setBuddy(line);
    }
    form->addRow(label, lines);
}
} // namespace

// Title and close button only, like Preferences; its size follows its texts.
AboutWindow::AboutWindow(const AboutFacts &facts, QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(Ui::AboutQuorvale.text());
    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto *name = new QLabel(QStringLiteral("Quorvale"), this);
    QFont large = name->font();
    large.setBold(true);
    large.setPointSizeF(large.pointSizeF() * 1.4);
    name->setFont(large);
    layout->addWidget(name);
    layout->addWidget(new QLabel(Ui::AboutVersion.arg(facts.version), this));
    layout->addWidget(new QLabel(Ui::AboutLicense.text(), this));
    layout->addSpacing(8);

    auto *form = new QFormLayout;
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    addPlaces(form, Ui::AboutToolFolders.arg(facts.toolName), facts.toolFolders);
    addPlaces(form, Ui::AboutSettings.text(), {facts.settingsFile});
    addPlaces(form, Ui::AboutHistory.text(), {facts.historyFile});
    addPlaces(form, Ui::AboutLogs.text(), facts.logFiles);
    layout->addLayout(form);

    // The default button: Return closes the window, wherever the focus is.
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(Ui::Ok.text(), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    ok->setFocus();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}
