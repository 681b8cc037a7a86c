#include "ui/disk_page.h"

#include <QHBoxLayout>
#include <QStyle>
#include <QVBoxLayout>

namespace quorlan::ui {

namespace {
constexpr int kSlotRole = Qt::UserRole + 1;
}

DiskPage::DiskPage(QWidget* parent) : QObject(parent) {
    m_tree = new mytreectrl(parent);
    m_tree->setObjectName(QStringLiteral("DiskTree"));
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item == nullptr || item->parent() == nullptr) return;
        emit diskSelected(static_cast<std::size_t>(item->data(0, kSlotRole).toULongLong()));
    });

    m_panel = new QWidget(parent);
    auto* layout = new QVBoxLayout(m_panel);
    auto* radios = new QHBoxLayout;
    m_standard = new CCustomRadio(QStringLiteral("Standard Search"), m_panel);
    m_standard->setObjectName(QStringLiteral("standardRadio"));
    m_standard->onSelect = [this] { emit modeChosen(SearchMode::Standard); };
    m_advance = new CCustomRadio(QStringLiteral("Advance Search"), m_panel);
    m_advance->setObjectName(QStringLiteral("advanceRadio"));
    m_advance->onSelect = [this] { emit modeChosen(SearchMode::Advance); };
    for (CCustomRadio* r : {m_standard, m_advance}) {
        r->setAutoExclusive(false);  // the page checks and clears them itself
        r->setEnabled(false);
        radios->addWidget(r);
    }
    radios->addStretch();
    layout->addLayout(radios);
    auto* refresh = new QHBoxLayout;
    m_refresh = new QPushButton(m_panel->style()->standardIcon(QStyle::SP_BrowserReload), QString(), m_panel);
    m_refresh->setToolTip(QStringLiteral("Refresh List"));
    m_refresh->setObjectName(QStringLiteral("refreshList"));
    connect(m_refresh, &QPushButton::clicked, this, &DiskPage::refreshClicked);
    m_refreshLabel = new CColorStatic(QStringLiteral("Refresh List"), m_panel);
    refresh->addWidget(m_refresh);
    refresh->addWidget(m_refreshLabel);
    refresh->addStretch();
    layout->addLayout(refresh);
    layout->addStretch();
}

void DiskPage::fill(const std::vector<DiskInfo>& disks) {
    const QSignalBlocker quiet(m_tree);
    m_tree->clear();
    auto* root = new QTreeWidgetItem(m_tree, {QStringLiteral("My Computer")});
    root->setIcon(0, m_tree->style()->standardIcon(QStyle::SP_ComputerIcon));
    for (const DiskInfo& d : disks) {
        auto* item = new QTreeWidgetItem(root, {QString::fromStdString(DiskTreeNodeText(d))});
        item->setIcon(0, m_tree->style()->standardIcon(IsFloppyDisk(d) ? QStyle::SP_DriveFDIcon
                                                                       : QStyle::SP_DriveHDIcon));
        item->setData(0, kSlotRole, QVariant::fromValue<qulonglong>(d.Index));
        item->setToolTip(0, QString::fromStdString(d.DeviceID));
    }
    root->setExpanded(true);
    m_tree->setCurrentItem(root);
}

void DiskPage::select(std::size_t slot) {
    QTreeWidgetItem* root = m_tree->topLevelItem(0);
    for (int i = 0; root != nullptr && i < root->childCount(); ++i) {
        if (root->child(i)->data(0, kSlotRole).toULongLong() == slot) m_tree->setCurrentItem(root->child(i));
    }
}

void DiskPage::showMode(std::optional<SearchMode> mode, bool standardEnabled, bool advanceEnabled) {
    m_standard->setEnabled(standardEnabled);
    m_advance->setEnabled(advanceEnabled);
    m_standard->setChecked(mode == SearchMode::Standard);
    m_advance->setChecked(mode == SearchMode::Advance);
}

void DiskPage::setRefreshVisible(bool visible) {
    m_refresh->setVisible(visible);
    m_refreshLabel->setVisible(visible);
}

void DiskPage::showDetails(CColoredListCtrl& list, const DiskInfo* disk) {
    list.setColumns({{QStringLiteral(" Disk Details"), 485}});
    if (disk == nullptr || IsFloppyDisk(*disk)) return;
    for (const auto& [name, value] : DiskDetailsRows(*disk)) list.addRow({QString::fromStdString(name + " " + value)});
}

}  // namespace quorlan::ui
