#pragma once

// A two-state check box drawn as a push button: value 0 = raised, 1 =
// pressed. Carries the blank 32x32 picture above its caption when enabled for
// use. OnClick installs the handler pattern every button follows: act only
// when the value has just become 1, set it back to 0 first, then act — so one
// press by mouse or space bar runs the action exactly once.

#include <QToolButton>
#include <functional>

class CheckButton : public QToolButton {
    Q_OBJECT
public:
    explicit CheckButton(const QString& caption, QWidget* parent = nullptr, bool withPicture = true);

    int Value() const { return isChecked() ? 1 : 0; }
    void SetValue(int v) { setChecked(v == 1); }

    void OnClick(std::function<void()> action);
};
