#pragma once

// The base of every wizard page: the shared look (white, Arial 9 pt bold, the
// blank icon), positions in twips, the page pointer state with its custom
// pointer, the pointer rule, and program end when the window is closed.
// All members are called from the user-interface thread only.

#include <QCursor>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <vector>

// The page pointer states: MousePointer takes these values only.
enum PagePointer : int {
    PointerDefault = 0, // every control shows its usual pointer
    PointerBusy = 11,   // the hourglass over the whole page, controls included
    PointerHand = 99,   // the page's MouseIcon over the whole page (the arrow while it is empty)
};

class Page : public QWidget {
    Q_OBJECT
public:
    explicit Page(QWidget* parent = nullptr);
    ~Page() override;

    // One of PagePointer's values.
    int MousePointer() const { return mousePointer_; }
    void SetMousePointer(int value);

    const std::optional<QCursor>& MouseIcon() const { return mouseIcon_; }
    void SetMouseIcon(std::optional<QCursor> icon);

    // The pointer rule: moving over `w` sets the page pointer to `value`
    // (PointerDefault or PointerHand) unless the page is busy. Call with the page itself too.
    // The parts of a control (a list's viewport, a grid's headers) count as
    // the control. Moving over a widget without a rule changes nothing, and
    // a disabled control has no rule in effect.
    void AddPointerRule(QWidget* w, int value);

    // Places a child in twips (15 per pixel at 96 dpi), relative to the
    // client area.
    void PlaceTwips(QWidget* w, int left, int top, int width, int height) const;
    // Sets the client area in twips (kept fixed for a fixed border).
    void SetClientSizeTwips(int width, int height);

    // A fixed single border: not resizable, minimise and close boxes, no
    // maximise box. Call before the page is first shown.
    void SetFixedSingleBorder();

    // Whether the page has seen the frame it is shown in (or given up
    // waiting for one): FrameBecameKnown has run by then, if it was to run.
    bool FrameSettled() const { return frameSettled_; }

protected:
    // Called once, when a window manager's frame has become known after the
    // page was shown (before that the outer size was the client size),
    // unless the user has moved or resized the page in the meantime. A page
    // whose placement or layout depends on its outer size does it again here.
    virtual void FrameBecameKnown() {}

    // Closing the window from its frame ends the program. A page that must
    // first save something overrides this and returns false to stay open.
    virtual bool QueryUnload() { return true; }
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct CoveredWidget {
        QPointer<QWidget> widget;
        std::optional<QCursor> own; // the pointer the widget had set for itself
    };

    void ApplyPointer();
    void WatchForFrame();
    void CheckFrame();
    void CoverWith(const QCursor& cursor);
    void Uncover();
    void UpdateBusyOverride();

    int mousePointer_ = PointerDefault;
    std::optional<QCursor> mouseIcon_;
    std::vector<CoveredWidget> covered_;
    bool fixedBorder_ = false;
    bool busyOverride_ = false;

    // After a show, until the frame is known or the time is up.
    QTimer frameWatch_;
    int frameChecksLeft_ = 0;
    bool frameSettled_ = false;  // known, or none comes
    bool awaitingFrame_ = false; // shown before without a frame
    QRect shownGeometry_;        // the client rectangle as shown
};
