#pragma once

// The base of every wizard page: the shared look (white, Arial 9 pt bold, the
// blank icon), positions in twips, the page pointer state with its custom
// pointer, the pointer rule, and program end when the window is closed.

#include <QCursor>
#include <QWidget>
#include <optional>

class Page : public QWidget {
    Q_OBJECT
public:
    explicit Page(QWidget* parent = nullptr);

    // 0 = default, 11 = busy (hourglass over the whole page, controls
    // included), 99 = the page's MouseIcon over the whole page (the default
    // arrow while MouseIcon is empty).
    int MousePointer() const { return mousePointer_; }
    void SetMousePointer(int value);

    const std::optional<QCursor>& MouseIcon() const { return mouseIcon_; }
    void SetMouseIcon(std::optional<QCursor> icon);

    // The pointer rule: moving over `w` sets the page pointer to `value`
    // (0 or 99) unless the page is busy (11). Call with the page itself too.
    void AddPointerRule(QWidget* w, int value);

    // Places a child or sizes the window in twips (15 per pixel at 96 dpi).
    void PlaceTwips(QWidget* w, int left, int top, int width, int height) const;
    // Sets the client area in twips.
    void SetClientSizeTwips(int width, int height);

protected:
    // Closing the window from its frame ends the program. A page that must
    // first save something overrides this and returns false to stay open.
    virtual bool QueryUnload() { return true; }
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int mousePointer_ = 0;
    std::optional<QCursor> mouseIcon_;
};
