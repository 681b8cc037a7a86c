// The window's own controls: image buttons with tooltips, a radio that selects on hover,
// coloured statics, the striped list, and the tree with three-state check boxes.
#pragma once

#include <QLabel>
#include <QRadioButton>
#include <QToolButton>
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

// The visible list: a report list with two alternating row colours.
class CColoredListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CColoredListCtrl(QWidget* parent = nullptr);
    // Replaces the columns as a whole (name, width; width 0 hides a column) and drops the rows.
    void setColumns(const std::vector<std::pair<QString, int>>& columns);
};

// The four trees of the window. Clicks on an item's check box toggle it through the owner
// (onCheckClick); the tree never toggles a box by itself.
class mytreectrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit mytreectrl(QWidget* parent = nullptr);
    std::function<void(QTreeWidgetItem*)> onCheckClick;
    std::function<void(QTreeWidgetItem*)> onItemClick;      // a click on the icon or the label
    std::function<void(QTreeWidgetItem*, bool)> onArrowKey;  // Up or Down moved to an item
    std::function<void(const QPoint&)> onContextMenu;
    // Whether the position lies on the item's check box.
    [[nodiscard]] bool onCheckBox(QTreeWidgetItem* item, const QPoint& pos) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};

}  // namespace quorlan::ui
