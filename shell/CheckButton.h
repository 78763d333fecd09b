#pragma once

// A two-state check box drawn as a push button: value 0 = raised, 1 =
// pressed. Carries the blank 32x32 picture above its caption when enabled for
// use. OnClick installs the handler pattern every button follows: act only
// when the value has just become 1, set it back to 0 first, then act — so one
// press by mouse or space bar runs the action exactly once.
//
// The keyboard reaches the button through the tab order only; the space bar
// presses it, Enter and Escape do nothing. Its accessible name is its caption.

#include <QPixmap>
#include <QToolButton>
#include <functional>

class CheckButton : public QToolButton {
    Q_OBJECT
public:
    // withPicture = false for a button that stays disabled for good.
    explicit CheckButton(const QString& caption, QWidget* parent = nullptr, bool withPicture = true);

    int Value() const { return isChecked() ? 1 : 0; }
    // Changing the value raises Click, as a press does.
    void SetValue(int v);

    bool HasPicture() const { return !picture_.isNull(); }

    // The button's action, run through the handler pattern on every Click.
    // A later call replaces the action.
    void OnClick(std::function<void()> action);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A press by mouse or space bar, or a change of the value from code.
    void Click();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void HandleClick();

    QPixmap picture_;
    std::function<void()> action_;
};
