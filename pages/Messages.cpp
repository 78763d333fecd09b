#include "pages/Messages.h"

#include <QLabel>
#include <QMessageBox>

#include <new>

namespace {

const QString kTitle = QStringLiteral("Dervanta");

} // namespace

void ShowMessage(QWidget* parent, const QString& text, const QString& details)
{
    QMessageBox box(QMessageBox::NoIcon, kTitle, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    // A carriage return separates lines of a message. A label whose text can
    // be selected lays its text out as a document, which starts a new line
    // there; the plain drawing some styles choose shows it as a blank.
    if (text.contains(u'\r')) {
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
            label->setTextInteractionFlags(label->textInteractionFlags() | Qt::TextSelectableByMouse);
    }
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

bool RunShortOfMemory(QWidget* parent, const QString& what, const std::function<void()>& step)
{
    try {
        step();
        return true;
    } catch (const std::bad_alloc&) {
        // What the step took is given back as it unwinds: there is room to say so.
    }
    ShowShortOfMemory(parent, what);
    return false;
}

void ShowShortOfMemory(QWidget* parent, const QString& what)
{
    ShowMessage(parent, QStringLiteral("There is not enough memory to %1. Nothing was changed by it; the rows shown "
                                       "stay as they are.")
                            .arg(what));
}

bool AskQuestion(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
