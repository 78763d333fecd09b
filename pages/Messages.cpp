#include "pages/Messages.h"

#include <QMessageBox>

namespace {

const QString kTitle = QStringLiteral("Dervanta");

} // namespace

void ShowMessage(QWidget* parent, const QString& text, const QString& details)
{
    QMessageBox box(QMessageBox::NoIcon, kTitle, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

bool AskQuestion(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
