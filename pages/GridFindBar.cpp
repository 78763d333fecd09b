#include "pages/GridFindBar.h"

#include "pages/GridAccessibility.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <iterator>

GridFindBar::GridFindBar(QWidget* parent) : QWidget(parent)
{
    setAccessibleName(QStringLiteral("Find bar"));
    setAutoFillBackground(true);
    auto* label = new QLabel(QStringLiteral("Find:"), this);
    text_ = new QLineEdit(this);
    text_->setAccessibleName(QStringLiteral("Find"));
    label->setBuddy(text_);
    matchCase_ = new QCheckBox(QStringLiteral("Match Case"), this);
    wholeCell_ = new QCheckBox(QStringLiteral("Whole Cell"), this);
    thisColumn_ = new QCheckBox(QStringLiteral("This Column Only"), this);
    previous_ = new QPushButton(QStringLiteral("Previous"), this);
    next_ = new QPushButton(QStringLiteral("Next"), this);
    close_ = new QPushButton(QStringLiteral("Close"), this);
    for (QPushButton* b : {previous_, next_, close_})
        b->setAutoDefault(false);
    // No name of its own: a screen reader reads what it says.
    result_ = new QLabel(this);
    result_->setTextFormat(Qt::PlainText);
    // The options keep their names whole; a long result takes the room left
    // (its whole text in its tool tip).
    result_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    // Two lines (three with the replace line), so the bar fits the grid at
    // its designed width.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 2, 2);
    layout->setSpacing(2);
    auto* first = new QHBoxLayout;
    first->addWidget(label);
    first->addWidget(text_, 1);
    first->addWidget(previous_);
    first->addWidget(next_);
    first->addWidget(close_);
    auto* second = new QHBoxLayout;
    second->addWidget(matchCase_);
    second->addWidget(wholeCell_);
    second->addWidget(thisColumn_);
    second->addWidget(result_, 1);
    layout->addLayout(first);
    layout->addLayout(second);

    replaceLine_ = new QWidget(this);
    auto* replaceLabel = new QLabel(QStringLiteral("Replace with:"), replaceLine_);
    replace_ = new QLineEdit(replaceLine_);
    replace_->setAccessibleName(QStringLiteral("Replace with"));
    replaceLabel->setBuddy(replace_);
    replaceOne_ = new QPushButton(QStringLiteral("Replace"), replaceLine_);
    replaceAll_ = new QPushButton(QStringLiteral("Replace All"), replaceLine_);
    for (QPushButton* b : {replaceOne_, replaceAll_})
        b->setAutoDefault(false);
    auto* third = new QHBoxLayout(replaceLine_);
    third->setContentsMargins(0, 0, 0, 0);
    third->addWidget(replaceLabel);
    third->addWidget(replace_, 1);
    third->addWidget(replaceOne_);
    third->addWidget(replaceAll_);
    // Under the text to find, so the two boxes sit together above the options.
    layout->insertWidget(1, replaceLine_);
    replaceLine_->hide();
    // Tab goes through the bar as it reads, line by line.
    QWidget* order[] = {text_, previous_, next_, close_, replace_, replaceOne_, replaceAll_, matchCase_, wholeCell_,
                        thisColumn_};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    replace_->installEventFilter(this);
    connect(replace_, &QLineEdit::returnPressed, this, &GridFindBar::replaceRequested);
    connect(replaceOne_, &QPushButton::clicked, this, &GridFindBar::replaceRequested);
    connect(replaceAll_, &QPushButton::clicked, this, &GridFindBar::replaceAllRequested);

    text_->installEventFilter(this);
    connect(text_, &QLineEdit::returnPressed, this, &GridFindBar::findNext);
    connect(text_, &QLineEdit::textEdited, this, [this] { showResult({}); });
    connect(next_, &QPushButton::clicked, this, &GridFindBar::findNext);
    connect(previous_, &QPushButton::clicked, this, &GridFindBar::findPrevious);
    connect(close_, &QPushButton::clicked, this, [this] {
        hide();
        emit closed();
    });
    hide();
}

QString GridFindBar::text() const { return text_->text(); }
bool GridFindBar::matchCase() const { return matchCase_->isChecked(); }
bool GridFindBar::wholeCell() const { return wholeCell_->isChecked(); }
bool GridFindBar::thisColumnOnly() const { return thisColumn_->isChecked(); }

void GridFindBar::showResult(const QString& result)
{
    SetTextAndAnnounce(result_, result);
    result_->setToolTip(result);
}

QString GridFindBar::replacement() const { return replace_->text(); }
bool GridFindBar::replacing() const { return !replaceLine_->isHidden(); }

void GridFindBar::open(bool withReplace)
{
    replaceLine_->setVisible(withReplace);
    show();
    text_->setFocus(Qt::ShortcutFocusReason);
    text_->selectAll();
}

bool GridFindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_F3) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Keys the bar's boxes and buttons do not take reach the bar.
void GridFindBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        hide();
        emit closed();
        return;
    }
    if (event->key() == Qt::Key_F3) {
        if (event->modifiers() & Qt::ShiftModifier)
            emit findPrevious();
        else
            emit findNext();
        return;
    }
    QWidget::keyPressEvent(event);
}
