#include "ui/controls.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>

namespace quorlan::ui {

CBtn::CBtn(const QIcon& icon, const QString& caption, const QString& tooltip, QWidget* parent) : QToolButton(parent) {
    setIcon(icon);
    setIconSize(QSize(24, 24));
    setText(caption);
    setToolTip(tooltip);
    setToolButtonStyle(caption.isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextUnderIcon);
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
}

CCustomRadio::CCustomRadio(const QString& text, QWidget* parent) : QRadioButton(text, parent) {
    setMouseTracking(true);
}

void CCustomRadio::enterEvent(QEnterEvent* event) {
    if (isEnabled() && onSelect) onSelect();
    QRadioButton::enterEvent(event);
}

void CCustomRadio::mouseMoveEvent(QMouseEvent* event) {
    if (isEnabled() && onSelect) onSelect();
    event->accept();
}

void CCustomRadio::mousePressEvent(QMouseEvent* event) { event->accept(); }  // swallowed

void CCustomRadio::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Select || event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        if (onSelect) onSelect();
        return;
    }
    QRadioButton::keyPressEvent(event);
}

CColorStatic::CColorStatic(const QString& text, QWidget* parent, QColor background, QColor foreground)
    : QLabel(text, parent) {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, foreground);
    setPalette(pal);
}

namespace {

// A row that sorts by its keys where it has them, else by its texts without regard to case.
class SortableRow : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
        const QVariant a = data(column, CColoredListCtrl::kSortRole);
        const QVariant b = other.data(column, CColoredListCtrl::kSortRole);
        if (a.isValid() && b.isValid()) return a.toLongLong() < b.toLongLong();
        return text(column).compare(other.text(column), Qt::CaseInsensitive) < 0;
    }
};

}  // namespace

CColoredListCtrl::CColoredListCtrl(QWidget* parent) : QTreeWidget(parent) {
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (m_sortable) sortByColumn(column);
    });
    setRootIsDecorated(false);
    setAlternatingRowColors(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, QColor(255, 255, 255));
    pal.setColor(QPalette::AlternateBase, kPanelColour);
    setPalette(pal);
}

void CColoredListCtrl::sortByColumn(int column) {
    // The same column again reverses the order; another one sorts ascending.
    m_sortOrder = column == m_sortColumn && m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                              : Qt::AscendingOrder;
    m_sortColumn = column;
    header()->setSortIndicatorShown(true);
    sortItems(column, m_sortOrder);
}

QTreeWidgetItem* CColoredListCtrl::addRow(const QStringList& cells, const std::vector<QVariant>& sortKeys) {
    auto* row = new SortableRow(this, cells);
    for (std::size_t i = 0; i < sortKeys.size(); ++i) {
        if (sortKeys[i].isValid()) row->setData(static_cast<int>(i), kSortRole, sortKeys[i]);
    }
    return row;
}

void CColoredListCtrl::setColumns(const std::vector<std::pair<QString, int>>& columns, bool sortable) {
    clear();
    m_sortable = sortable;
    m_sortColumn = -1;
    m_sortOrder = Qt::AscendingOrder;
    header()->setSortIndicatorShown(false);
    header()->setSectionsClickable(sortable);
    setColumnCount(static_cast<int>(columns.size()));
    QStringList labels;
    for (const auto& c : columns) labels << c.first;
    setHeaderLabels(labels);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        const int width = columns[static_cast<std::size_t>(i)].second;
        setColumnHidden(i, width == 0);
        if (width > 0) setColumnWidth(i, width);
    }
}

mytreectrl::mytreectrl(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setFrameShape(QFrame::StyledPanel);
}

CResultTreeView::CResultTreeView(QWidget* parent) : QTreeView(parent) {
    setHeaderHidden(true);
    setFrameShape(QFrame::StyledPanel);
    setUniformRowHeights(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

bool CResultTreeView::onCheckBox(const QModelIndex& index, const QPoint& pos) const {
    if (!index.isValid() || !(index.flags() & Qt::ItemIsUserCheckable)) return false;
    const QRect r = visualRect(index);
    // The check box is drawn first in the item's row, before the icon.
    const int box = style()->pixelMetric(QStyle::PM_IndicatorWidth) + 4;
    return pos.x() >= r.left() && pos.x() < r.left() + box;
}

void CResultTreeView::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && onCheckBox(index, event->position().toPoint())) {
        setCurrentIndex(index);
        if (onCheckClick) onCheckClick(index);
        event->accept();  // the view's own handling does not toggle the box
        return;
    }
    QTreeView::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && index.isValid() && onItemClick) onItemClick(index);
}

void CResultTreeView::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) && onArrowKey) {
        const QModelIndex current = currentIndex();
        const QModelIndex next = !current.isValid()                ? QModelIndex()
                                 : event->key() == Qt::Key_Up ? indexAbove(current)
                                                              : indexBelow(current);
        if (next.isValid()) {
            setCurrentIndex(next);
            onArrowKey(next);
        }
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void CResultTreeView::contextMenuEvent(QContextMenuEvent* event) {
    if (onContextMenu) onContextMenu(event->globalPos());
}

}  // namespace quorlan::ui
