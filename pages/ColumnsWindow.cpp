#include "pages/ColumnsWindow.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

ColumnsWindow::ColumnsWindow(QWidget* parent, const QStringList& names, const QList<bool>& shown)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Columns"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("&Columns shown:"), this);
    layout->addWidget(label);
    list_ = new QListWidget(this);
    list_->setAccessibleName(QStringLiteral("Columns shown"));
    label->setBuddy(list_);
    for (int i = 0; i < names.size(); ++i) {
        auto* item = new QListWidgetItem(names[i], list_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(shown.value(i, true) ? Qt::Checked : Qt::Unchecked);
    }
    if (list_->count() > 0)
        list_->setCurrentRow(0);
    layout->addWidget(list_);
    note_ = new QLabel(QStringLiteral("At least one column must stay shown."), this);
    note_->setAccessibleName(note_->text());
    note_->hide();
    layout->addWidget(note_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(list_, &QListWidget::itemChanged, this, &ColumnsWindow::ticked);
    list_->setFocus();
}

QList<bool> ColumnsWindow::shown() const
{
    QList<bool> all;
    for (int i = 0; i < list_->count(); ++i)
        all << (list_->item(i)->checkState() == Qt::Checked);
    return all;
}

void ColumnsWindow::ticked()
{
    const bool any = shown().contains(true);
    ok_->setEnabled(any);
    note_->setVisible(!any);
}
