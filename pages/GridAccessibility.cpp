#include "pages/GridAccessibility.h"

#include "pages/DataGrid.h"
#include "pages/GridFilterRow.h"
#include "pages/GridFindBar.h"
#include "pages/GridStatusLine.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

#include <array>

namespace {

std::array<QWidget*, 3> barsOf(const DataGrid& grid) { return {grid.filterRow(), grid.findBar(), grid.statusLine()}; }

DataGrid* gridOf(const QWidget& bar)
{
    for (QWidget* w = bar.parentWidget(); w; w = w->parentWidget())
        if (auto* grid = qobject_cast<DataGrid*>(w))
            return grid;
    return nullptr;
}

// The page: its own children as Qt lists them, each grid followed by its bars.
class PageAccessible final : public QAccessibleWidget {
public:
    explicit PageAccessible(QWidget* page) : QAccessibleWidget(page) {}

    int childCount() const override { return static_cast<int>(children().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const QList<QAccessibleInterface*> all = children();
        return index >= 0 && index < all.size() ? all[index] : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return static_cast<int>(children().indexOf(const_cast<QAccessibleInterface*>(child)));
    }

    // The bars lie over the grid: the last listed is the one on top.
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QList<QAccessibleInterface*> all = children();
        for (auto it = all.crbegin(); it != all.crend(); ++it)
            if (!(*it)->state().invisible && (*it)->rect().contains(x, y))
                return *it;
        return nullptr;
    }

private:
    QList<QAccessibleInterface*> children() const
    {
        QList<QAccessibleInterface*> all;
        for (int i = 0; i < QAccessibleWidget::childCount(); ++i) {
            QAccessibleInterface* own = QAccessibleWidget::child(i);
            if (!own)
                continue;
            all.append(own);
            if (const auto* grid = qobject_cast<const DataGrid*>(own->object()))
                for (QWidget* bar : barsOf(*grid))
                    if (QAccessibleInterface* b = QAccessible::queryAccessibleInterface(bar))
                        all.append(b);
        }
        return all;
    }
};

// A bar: a child of the page that shows its grid.
class BarAccessible final : public QAccessibleWidget {
public:
    BarAccessible(QWidget* bar, QAccessible::Role role) : QAccessibleWidget(bar, role) {}

    QAccessibleInterface* parent() const override
    {
        // Only a page that lists the bar may be its parent; elsewhere the
        // bar stays where Qt would put it.
        if (const DataGrid* grid = gridOf(*widget()))
            if (QAccessibleInterface* page = QAccessible::queryAccessibleInterface(grid->parentWidget()))
                if (page->indexOfChild(this) >= 0)
                    return page;
        return QAccessibleWidget::parent();
    }
};

QAccessibleInterface* makeInterface(const QString& key, QObject* object)
{
    // By class name: Qt asks for an object's most derived class first.
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    if (key == QLatin1String("Form3"))
        return new PageAccessible(widget);
    if (key == QLatin1String("GridFilterRow") || key == QLatin1String("GridFindBar"))
        return new BarAccessible(widget, QAccessible::ToolBar);
    if (key == QLatin1String("GridStatusLine"))
        return new BarAccessible(widget, QAccessible::StatusBar);
    return nullptr;
}

} // namespace

void InstallGridAccessibility() { QAccessible::installFactory(makeInterface); }

void SetTextAndAnnounce(QLabel* label, const QString& text)
{
    const bool same = label->text() == text;
    label->setText(text);
    if (same && !text.isEmpty()) {
        QAccessibleEvent event(label, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}
