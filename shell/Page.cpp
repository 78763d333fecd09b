#include "shell/Page.h"

#include "shell/Centring.h"
#include "shell/Look.h"
#include "shell/Twips.h"
#include "shell/ProgramEnd.h"

#include <QCloseEvent>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QMouseEvent>

#include <algorithm>

Page::Page(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    ApplyPageLook(*this);
    frameWatch_.setInterval(20);
    connect(&frameWatch_, &QTimer::timeout, this, &Page::CheckFrame);
}

Page::~Page()
{
    if (busyOverride_)
        QGuiApplication::restoreOverrideCursor();
}

// ---- the page pointer -------------------------------------------------------

void Page::SetMousePointer(int value)
{
    if (value == mousePointer_)
        return;
    mousePointer_ = value;
    ApplyPointer();
}

void Page::SetMouseIcon(std::optional<QCursor> icon)
{
    mouseIcon_ = std::move(icon);
    if (mousePointer_ == PointerHand)
        ApplyPointer();
}

void Page::ApplyPointer()
{
    UpdateBusyOverride();
    switch (mousePointer_) {
    case PointerDefault:
        Uncover();
        break;
    case PointerBusy:
        CoverWith(QCursor(Qt::WaitCursor));
        break;
    case PointerHand:
        CoverWith(mouseIcon_.value_or(QCursor(Qt::ArrowCursor)));
        break;
    default:
        CoverWith(QCursor(Qt::ArrowCursor));
        break;
    }
}

void Page::CoverWith(const QCursor& cursor)
{
    // Every widget of this window gets the pointer, also those that set one
    // of their own (the I-beam of a text box); what they had is kept so that
    // the default state can give it back. Windows of their own (a message
    // box parented to the page) are left alone.
    QList<QWidget*> widgets = findChildren<QWidget*>();
    widgets.prepend(this);
    for (QWidget* w : widgets) {
        if (w->window() != this)
            continue;
        const bool known = std::any_of(covered_.begin(), covered_.end(),
                                       [w](const CoveredWidget& c) { return c.widget == w; });
        if (!known) {
            std::optional<QCursor> own;
            if (w->testAttribute(Qt::WA_SetCursor))
                own = w->cursor();
            covered_.push_back(CoveredWidget{w, std::move(own)});
        }
        w->setCursor(cursor);
    }
}

void Page::Uncover()
{
    for (CoveredWidget& c : covered_) {
        if (!c.widget)
            continue;
        if (c.own)
            c.widget->setCursor(*c.own);
        else
            c.widget->unsetCursor();
    }
    covered_.clear();
}

// The platform shows the plain arrow over a disabled window whatever its
// widgets' pointers say. A page that is busy and disabled at once (while it
// fills a list and yields to the event loop) still has to show the
// hourglass, so for that time the application-wide pointer is used. Only a
// visible page needs it: the one being created is not yet on the screen.
void Page::UpdateBusyOverride()
{
    const bool wanted = mousePointer_ == PointerBusy && !isEnabled() && isVisible();
    if (wanted == busyOverride_)
        return;
    busyOverride_ = wanted;
    if (wanted)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else
        QGuiApplication::restoreOverrideCursor();
}

bool Page::event(QEvent* event)
{
    const bool result = QWidget::event(event);
    switch (event->type()) {
    case QEvent::Show:
        UpdateBusyOverride();
        if (!frameSettled_)
            WatchForFrame();
        break;
    case QEvent::EnabledChange:
    case QEvent::Hide:
        UpdateBusyOverride();
        break;
    default:
        break;
    }
    return result;
}

// ---- the pointer rule -------------------------------------------------------

namespace {

// The rule's value lives on the watched widget itself, so it goes with it.
constexpr char kPointerRule[] = "dervantaPointerRule";

} // namespace

void Page::AddPointerRule(QWidget* w, int value)
{
    if (!w)
        return;
    const auto watch = [this, value](QWidget* x) {
        x->installEventFilter(this); // installing twice keeps one filter
        x->setMouseTracking(true);
        x->setProperty(kPointerRule, value);
    };
    watch(w);
    if (w == this)
        return;
    for (QWidget* part : w->findChildren<QWidget*>()) {
        if (part->window() == this && !part->property(kPointerRule).isValid())
            watch(part);
    }
}

bool Page::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::MouseMove || type == QEvent::Enter) && watched->isWidgetType()) {
        const QVariant rule = watched->property(kPointerRule);
        if (rule.isValid()) {
            const auto* w = static_cast<const QWidget*>(watched);
            const QPointF at = type == QEvent::MouseMove ? static_cast<QMouseEvent*>(event)->position()
                                                         : static_cast<QEnterEvent*>(event)->position();
            // A move over a child reaches its parents too; there only the
            // child's own rule counts (or none, for a label without one).
            const bool overChild = w->childAt(at.toPoint()) != nullptr;
            if (w->isEnabled() && !overChild && mousePointer_ != PointerBusy)
                SetMousePointer(rule.toInt());
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- twips ------------------------------------------------------------------

void Page::PlaceTwips(QWidget* w, int left, int top, int width, int height) const
{
    if (!w)
        return;
    w->setGeometry(TwipsToPixels(left, this), TwipsToPixels(top, this), TwipsToPixels(width, this),
                   TwipsToPixels(height, this));
}

void Page::SetClientSizeTwips(int width, int height)
{
    const QSize size(TwipsToPixels(width, this), TwipsToPixels(height, this));
    if (fixedBorder_)
        setFixedSize(size);
    else
        resize(size);
}

void Page::SetFixedSingleBorder()
{
    fixedBorder_ = true;
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
}

// ---- the window manager's frame ---------------------------------------------

// A window manager frames a window only once it is mapped, and tells of the
// frame later still; no event reaches the widget when it does. Until then the
// outer size is the client size, so the placement and layout the load steps
// did on it lack the frame. A short watch after the page is shown catches
// the moment the frame is known. A page hidden again before that is watched
// again at its next show, where the frame may already be known. Where the
// platform knows the frame from the first show on, or draws none, nothing
// is done.
void Page::WatchForFrame()
{
    shownGeometry_ = geometry();
    if (!awaitingFrame_ && OuterGeometry(*this) != geometry()) {
        frameSettled_ = true;
        return;
    }
    awaitingFrame_ = true;
    frameChecksLeft_ = 150; // three seconds
    frameWatch_.start();
}

void Page::CheckFrame()
{
    if (!isVisible()) {
        frameWatch_.stop();
        return;
    }
    if (--frameChecksLeft_ < 0) {
        // No frame came: none is drawn.
        frameWatch_.stop();
        frameSettled_ = true;
        return;
    }
    const QRect client = geometry();
    const QRect outer = OuterGeometry(*this);
    if (outer == client)
        return;
    frameWatch_.stop();
    frameSettled_ = true;
    // Framing keeps either the client's corner or the frame's corner where
    // the window was put; anything else is the user's doing, and stays.
    const bool untouched = client.size() == shownGeometry_.size()
                           && (client.topLeft() == shownGeometry_.topLeft()
                               || outer.topLeft() == shownGeometry_.topLeft());
    if (untouched)
        FrameBecameKnown();
}

// ---- closing ----------------------------------------------------------------

void Page::closeEvent(QCloseEvent* event)
{
    if (!QueryUnload()) {
        event->ignore();
        return;
    }
    event->accept();
    EndProgram(0);
}
