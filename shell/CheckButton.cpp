#include "shell/CheckButton.h"

#include "shell/Look.h"
#include "shell/Twips.h"

#include <QPalette>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

CheckButton::CheckButton(const QString& caption, QWidget* parent, bool withPicture)
    : QToolButton(parent)
{
    setText(caption);
    setAccessibleName(caption);
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    if (withPicture) {
        picture_ = BlankPicture();
        setIcon(QIcon(picture_));
        setIconSize(picture_.size());
    }

    QPalette face = palette();
    face.setColor(QPalette::Button, Qt::white);
    face.setColor(QPalette::Window, Qt::white);
    setPalette(face);

    connect(this, &QAbstractButton::clicked, this, &CheckButton::Click);
    connect(this, &CheckButton::Click, this, &CheckButton::HandleClick);
}

void CheckButton::SetValue(int v)
{
    const bool checked = v == 1;
    if (checked == isChecked())
        return;
    setChecked(checked);
    emit Click();
}

void CheckButton::OnClick(std::function<void()> action)
{
    action_ = std::move(action);
}

void CheckButton::HandleClick()
{
    if (!action_ || Value() != 1)
        return;
    // Setting the value back raises Click once more; that one finds 0.
    SetValue(0);
    // The action may block this thread for a while: the button must already
    // look released then.
    repaint();
    // A copy, so that an action replacing itself keeps running safely.
    const std::function<void()> action = action_;
    action();
}

QSize CheckButton::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    const int width = std::max(fm.horizontalAdvance(text()) + 16, 75);
    const int height = fm.height() + 10 + (HasPicture() ? picture_.height() : 0);
    return {width, height};
}

QSize CheckButton::minimumSizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return {fm.horizontalAdvance(text()) + 8, fm.height() + 6};
}

void CheckButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);

    QStyleOptionButton option;
    option.initFrom(this);
    option.features = QStyleOptionButton::None;
    const bool sunken = isDown() || isChecked();
    option.state |= sunken ? QStyle::State_Sunken : QStyle::State_Raised;
    if (isChecked())
        option.state |= QStyle::State_On;
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    // Picture above caption, the caption in the lower part of the face. At
    // the pages' button height the picture does not fit and is cut at the
    // top, as a picture button of that size shows it. Without a picture the
    // caption is centred.
    const QRect face = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    const QFontMetrics fm = fontMetrics();
    const int shift = sunken ? 1 : 0;
    const int captionTop = HasPicture() ? face.bottom() - fm.height() - 1 : face.top() + (face.height() - fm.height()) / 2;
    QRect caption(face.left(), captionTop, face.width(), fm.height() + 1);
    caption.translate(shift, shift);

    painter.save();
    painter.setClipRect(face);
    if (HasPicture()) {
        const QRect place(caption.center().x() - picture_.width() / 2, caption.top() - picture_.height(),
                          picture_.width(), picture_.height());
        painter.drawPixmap(place, picture_);
    }
    style()->drawItemText(&painter, caption, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextHideMnemonic,
                          palette(), isEnabled(), text(), QPalette::ButtonText);
    painter.restore();

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        const int textWidth = fm.horizontalAdvance(text());
        focus.rect = QRect(caption.center().x() - textWidth / 2 - 2, caption.top(), textWidth + 4, caption.height())
                         .intersected(face);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}
