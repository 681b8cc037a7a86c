#include "ui/partition_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QStyle>
#include <QVBoxLayout>

namespace quorlan::ui {

namespace {

constexpr int kItemRole = Qt::UserRole + 1;

QLineEdit* sectorEdit(const QString& name, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    QPalette pal = e->palette();
    pal.setColor(QPalette::Base, Qt::white);
    e->setPalette(pal);
    return e;
}

}  // namespace

PartitionPage::PartitionPage(QWidget* parent) : QObject(parent) {
    m_tree = new mytreectrl(parent);
    m_tree->setObjectName(QStringLiteral("PartitionTree"));
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item == nullptr || item->parent() == nullptr) return;
        const int id = item->data(0, kItemRole).toInt();
        if (id != kPlaceholderItem) emit itemSelected(id);
    });

    m_panel = new QWidget(parent);
    auto* layout = new QVBoxLayout(m_panel);
    auto* grid = new QGridLayout;
    grid->addWidget(new CColorStatic(QStringLiteral("Search Mode :"), m_panel), 0, 0);
    m_modeLabel = new CColorStatic(QStringLiteral("Standard Search"), m_panel);
    m_modeLabel->setObjectName(QStringLiteral("modeLabel"));
    grid->addWidget(m_modeLabel, 0, 1);
    m_typeLabel = new CColorStatic(QStringLiteral("Partition Type :"), m_panel);
    grid->addWidget(m_typeLabel, 1, 0);
    m_type = new QComboBox(m_panel);
    m_type->setObjectName(QStringLiteral("partitionType"));
    m_type->addItems({QStringLiteral("FAT16"), QStringLiteral("FAT32"), QStringLiteral("NTFS"),
                      QStringLiteral("UNKNOWN")});
    grid->addWidget(m_type, 1, 1);
    m_startLabel = new CColorStatic(QStringLiteral("Start Sector :"), m_panel);
    grid->addWidget(m_startLabel, 2, 0);
    m_start = sectorEdit(QStringLiteral("startSector"), m_panel);
    grid->addWidget(m_start, 2, 1);
    m_endLabel = new CColorStatic(QStringLiteral("End Sector  :"), m_panel);
    grid->addWidget(m_endLabel, 3, 0);
    m_end = sectorEdit(QStringLiteral("endSector"), m_panel);
    grid->addWidget(m_end, 3, 1);
    layout->addLayout(grid);

    // The lost-partition search: its range, its buttons and its bar.
    auto* range = new QGridLayout;
    m_entireDisk = new QRadioButton(QStringLiteral("Entire Disk"), m_panel);
    m_entireDisk->setObjectName(QStringLiteral("entireDisk"));
    m_sectorRange = new QRadioButton(QStringLiteral("Sector Range"), m_panel);
    m_sectorRange->setObjectName(QStringLiteral("sectorRange"));
    m_entireDisk->setChecked(true);
    connect(m_entireDisk, &QRadioButton::clicked, this, [this] { emit rangeChosen(false); });
    connect(m_sectorRange, &QRadioButton::clicked, this, [this] { emit rangeChosen(true); });
    range->addWidget(m_entireDisk, 0, 0);
    range->addWidget(m_sectorRange, 0, 1);
    m_rangeStartLabel = new CColorStatic(QStringLiteral("Start Sector"), m_panel);
    range->addWidget(m_rangeStartLabel, 1, 0);
    m_rangeStart = sectorEdit(QStringLiteral("rangeStart"), m_panel);
    range->addWidget(m_rangeStart, 1, 1);
    m_rangeEndLabel = new CColorStatic(QStringLiteral("End Sector"), m_panel);
    range->addWidget(m_rangeEndLabel, 2, 0);
    m_rangeEnd = sectorEdit(QStringLiteral("rangeEnd"), m_panel);
    range->addWidget(m_rangeEnd, 2, 1);
    layout->addLayout(range);

    auto* buttons = new QHBoxLayout;
    m_searchMore = new QPushButton(m_panel->style()->standardIcon(QStyle::SP_FileDialogContentsView),
                                   QStringLiteral("Search More Partitions"), m_panel);
    m_searchMore->setObjectName(QStringLiteral("searchMorePartitions"));
    m_searchMore->setToolTip(QStringLiteral("Search More Partitions"));
    connect(m_searchMore, &QPushButton::clicked, this, &PartitionPage::searchMoreClicked);
    m_stop = new QPushButton(m_panel->style()->standardIcon(QStyle::SP_BrowserStop), QStringLiteral("STOP"), m_panel);
    m_stop->setObjectName(QStringLiteral("stopPartitionSearch"));
    m_stop->setToolTip(QStringLiteral("Stop Searching Partitions"));
    m_stop->setVisible(false);
    connect(m_stop, &QPushButton::clicked, this, &PartitionPage::stopClicked);
    buttons->addWidget(m_searchMore);
    buttons->addWidget(m_stop);
    buttons->addStretch();
    layout->addLayout(buttons);
    auto* bar = new QHBoxLayout;
    m_barLabel = new CColorStatic(QStringLiteral("Searching Partition..."), m_panel);
    m_bar = new CTextProgressCtrl(m_panel);
    m_bar->setObjectName(QStringLiteral("partitionSearchProgress"));
    bar->addWidget(m_barLabel);
    bar->addWidget(m_bar, 1);
    layout->addLayout(bar);
    m_barLabel->setVisible(false);
    m_bar->setVisible(false);
    layout->addStretch();
    chooseRange(false, 0);
}

void PartitionPage::fill(std::size_t diskNumber, const DiskPartitionList& list) {
    const QSignalBlocker quiet(m_tree);
    m_tree->clear();
    auto* disk = new QTreeWidgetItem(m_tree, {QString::fromStdString(DiskNodeText(diskNumber))});
    disk->setIcon(0, m_tree->style()->standardIcon(QStyle::SP_DriveHDIcon));
    for (std::size_t i = 0; i < list.partitions.size(); ++i) {
        auto* item = new QTreeWidgetItem(
            disk, {QString::fromStdString(PartitionNodeText(static_cast<int>(i + 1), list.partitions[i].type))});
        item->setIcon(0, m_tree->style()->standardIcon(QStyle::SP_DriveFDIcon));
        item->setData(0, kItemRole, static_cast<int>(i));
    }
    disk->setExpanded(true);
    m_tree->setCurrentItem(disk);
}

std::optional<int> PartitionPage::selectedItem() const {
    const QTreeWidgetItem* item = m_tree->currentItem();
    if (item == nullptr || item->parent() == nullptr) return std::nullopt;
    const int id = item->data(0, kItemRole).toInt();
    if (id == kPlaceholderItem) return std::nullopt;
    return id;
}

void PartitionPage::selectItem(int id) {
    QTreeWidgetItem* disk = diskNode();
    for (int i = 0; disk != nullptr && i < disk->childCount(); ++i) {
        if (disk->child(i)->data(0, kItemRole).toInt() == id) {
            {
                const QSignalBlocker quiet(m_tree);
                m_tree->setCurrentItem(disk->child(i));
            }
            emit itemSelected(id);  // also when it was the current item already
            return;
        }
    }
}

void PartitionPage::addPlaceholder() {
    if (diskNode() == nullptr) return;
    auto* item = new QTreeWidgetItem(diskNode(), {QString()});
    item->setData(0, kItemRole, kPlaceholderItem);
}

void PartitionPage::removePlaceholder() {
    QTreeWidgetItem* disk = diskNode();
    for (int i = disk == nullptr ? -1 : disk->childCount() - 1; i >= 0; --i) {
        if (disk->child(i)->data(0, kItemRole).toInt() == kPlaceholderItem) delete disk->takeChild(i);
    }
}

void PartitionPage::addUnknownPartition() {
    if (diskNode() == nullptr) return;
    auto* item = new QTreeWidgetItem(diskNode(), {QStringLiteral("Unknown Partition")});
    item->setIcon(0, m_tree->style()->standardIcon(QStyle::SP_DriveFDIcon));
    item->setData(0, kItemRole, kUnknownItem);
    diskNode()->setExpanded(true);
}

void PartitionPage::setMode(SearchMode mode) {
    m_modeLabel->setText(mode == SearchMode::Advance ? QStringLiteral("Advance Search")
                                                     : QStringLiteral("Standard Search"));
}

void PartitionPage::preset(const PartitionEntry* partition, std::uint64_t diskSectors) {
    if (partition == nullptr) {
        m_type->setCurrentIndex(kTypeUnknownIndex);
        m_start->setText(QStringLiteral("0"));
        m_end->setText(QString::number(diskSectors));
        return;
    }
    m_type->setCurrentIndex(PartitionTypeIndex(partition->type));
    m_start->setText(QString::number(partition->start));
    m_end->setText(QString::number(partition->end > partition->start ? partition->end : diskSectors));
}

void PartitionPage::chooseRange(bool sectorRange, std::uint64_t diskSectors) {
    m_sectorRange->setChecked(sectorRange);
    m_entireDisk->setChecked(!sectorRange);
    if (sectorRange) {
        m_rangeStart->setText(QStringLiteral("0"));
        m_rangeEnd->setText(QString::number(diskSectors));
    } else {
        m_rangeStart->clear();
        m_rangeEnd->clear();
    }
}

void PartitionPage::applyControls(const Controls& c, SearchMode mode, bool running) {
    m_type->setVisible(c.typeControlsVisible);
    m_typeLabel->setVisible(c.typeControlsVisible);
    m_type->setEnabled(c.typeControlsEnabled);
    // Standard Search shows the partition's sectors without letting them be changed.
    const bool editsShown = mode == SearchMode::Standard || c.typeControlsVisible;
    for (QWidget* w : std::initializer_list<QWidget*>{m_start, m_end, m_startLabel, m_endLabel}) {
        w->setVisible(editsShown);
        w->setEnabled(mode == SearchMode::Advance && c.typeControlsEnabled);
    }
    m_searchMore->setVisible(c.searchMorePartitionsVisible);
    m_searchMore->setEnabled(c.searchMorePartitionsEnabled);
    m_stop->setVisible(!c.searchMorePartitionsVisible);
    m_entireDisk->setEnabled(c.partitionRangeEnabled);
    m_sectorRange->setEnabled(c.partitionRangeEnabled);
    const bool rangeEdits = c.partitionRangeEnabled && m_sectorRange->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{m_rangeStart, m_rangeEnd, m_rangeStartLabel, m_rangeEndLabel}) {
        w->setEnabled(rangeEdits);
    }
    m_bar->setVisible(running);
    m_barLabel->setVisible(running);
}

}  // namespace quorlan::ui
