#include "ui/controls.h"

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

CColoredListCtrl::CColoredListCtrl(QWidget* parent) : QTreeWidget(parent) {
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

void CColoredListCtrl::setColumns(const std::vector<std::pair<QString, int>>& columns) {
    clear();
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

bool mytreectrl::onCheckBox(QTreeWidgetItem* item, const QPoint& pos) const {
    if (item == nullptr || !(item->flags() & Qt::ItemIsUserCheckable)) return false;
    const QRect r = visualItemRect(item);
    // The check box is drawn first in the item's row, before the icon.
    const int box = style()->pixelMetric(QStyle::PM_IndicatorWidth) + 4;
    return pos.x() >= r.left() && pos.x() < r.left() + box;
}

void mytreectrl::mousePressEvent(QMouseEvent* event) {
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && item != nullptr && onCheckBox(item, event->position().toPoint())) {
        setCurrentItem(item);
        if (onCheckClick) onCheckClick(item);
        event->accept();  // the tree's own handling does not toggle the box
        return;
    }
    QTreeWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && item != nullptr && onItemClick) onItemClick(item);
}

void mytreectrl::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) && onArrowKey) {
        QTreeWidgetItem* current = currentItem();
        QTreeWidgetItem* next = current == nullptr ? nullptr
                                : event->key() == Qt::Key_Up ? itemAbove(current)
                                                              : itemBelow(current);
        if (next != nullptr) {
            setCurrentItem(next);
            onArrowKey(next, event->key() == Qt::Key_Down);
        }
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void mytreectrl::contextMenuEvent(QContextMenuEvent* event) {
    if (onContextMenu) onContextMenu(event->globalPos());
}

}  // namespace quorlan::ui
