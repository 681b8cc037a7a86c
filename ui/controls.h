// The window's own controls: image buttons with tooltips, a radio that selects on hover,
// coloured statics, the striped list, and the tree with three-state check boxes.
#pragma once

#include <QLabel>
#include <QRadioButton>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <functional>

namespace quorlan::ui {

// The background of the window's statics and dialogs.
inline const QColor kPanelColour(241, 244, 250);

// A button with an image (normal, pressed, disabled), a caption under it and a tooltip.
class CBtn : public QToolButton {
    Q_OBJECT
public:
    CBtn(const QIcon& icon, const QString& caption, const QString& tooltip, QWidget* parent = nullptr);
};

// Selects itself when the mouse pointer moves over it; a click does nothing more.
class CCustomRadio : public QRadioButton {
    Q_OBJECT
public:
    explicit CCustomRadio(const QString& text, QWidget* parent = nullptr);
    std::function<void()> onSelect;  // the owner's selection action

protected:
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// A static text with its own background and text colours.
class CColorStatic : public QLabel {
    Q_OBJECT
public:
    explicit CColorStatic(const QString& text = {}, QWidget* parent = nullptr, QColor background = kPanelColour,
                          QColor foreground = Qt::black);
};

// The visible list: a report list with two alternating row colours. With sorting on, a click on
// a column header sorts the rows by that column (again: the other way round); rows keep the
// order they were added in until then.
class CColoredListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    // A row's value for sorting in a column (a number or a date as a number); without one the
    // column's texts are compared, ignoring case.
    static constexpr int kSortRole = Qt::UserRole + 7;

    explicit CColoredListCtrl(QWidget* parent = nullptr);
    // Replaces the columns as a whole (name, width; width 0 hides a column) and drops the rows.
    void setColumns(const std::vector<std::pair<QString, int>>& columns, bool sortable = false);
    // Adds a row whose cells sort by the given keys (empty: by text).
    QTreeWidgetItem* addRow(const QStringList& cells, const std::vector<QVariant>& sortKeys = {});
    // Sorts by a column as a header click does.
    void sortByColumn(int column);
    [[nodiscard]] int sortedColumn() const { return m_sortColumn; }
    [[nodiscard]] Qt::SortOrder sortedOrder() const { return m_sortOrder; }

private:
    bool m_sortable = false;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

// The disk, partition and file-system trees of the window.
class mytreectrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit mytreectrl(QWidget* parent = nullptr);
};

// The results tree: the same clicks as mytreectrl over an item model (the engine's tree).
class CResultTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit CResultTreeView(QWidget* parent = nullptr);
    std::function<void(const QModelIndex&)> onCheckClick;
    std::function<void(const QModelIndex&)> onItemClick;  // a click on the icon or the label
    std::function<void(const QModelIndex&)> onArrowKey;   // Up or Down moved to an item
    std::function<void(const QPoint&)> onContextMenu;
    [[nodiscard]] bool onCheckBox(const QModelIndex& index, const QPoint& pos) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};

}  // namespace quorlan::ui
