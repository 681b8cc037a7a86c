#include "ui/file_system_page.h"

#include <QStyle>
#include <QVBoxLayout>

namespace quorlan::ui {

namespace {
constexpr int kNumberRole = Qt::UserRole + 1;
}

FileSystemPage::FileSystemPage(QWidget* parent) : QObject(parent) {
    m_tree = new mytreectrl(parent);
    m_tree->setObjectName(QStringLiteral("FileSystemTree"));
    QPalette pal = m_tree->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    m_tree->setPalette(pal);
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item == nullptr || item->parent() == nullptr) return;
        emit fileSystemSelected(static_cast<std::size_t>(item->data(0, kNumberRole).toULongLong()));
    });
    m_panel = new QWidget(parent);
    auto* layout = new QVBoxLayout(m_panel);
    layout->addWidget(new CColorStatic(QStringLiteral("File Systems Found"), m_panel));
    layout->addStretch();
}

void FileSystemPage::clear() {
    const QSignalBlocker quiet(m_tree);
    m_tree->clear();
    m_rows.clear();
}

void FileSystemPage::fill(const std::vector<FileSystemRow>& rows) {
    clear();
    m_rows = rows;
    const QSignalBlocker quiet(m_tree);
    auto* root = new QTreeWidgetItem(m_tree, {QStringLiteral("File Systems")});
    root->setIcon(0, m_tree->style()->standardIcon(QStyle::SP_ComputerIcon));
    for (const FileSystemRow& r : rows) {
        auto* item = new QTreeWidgetItem(root, {QString::fromStdString(r.text)});
        item->setIcon(0, m_tree->style()->standardIcon(QStyle::SP_DriveHDIcon));
        item->setData(0, kNumberRole, QVariant::fromValue<qulonglong>(r.number));
    }
    root->setExpanded(true);
    m_tree->setCurrentItem(root->childCount() > 0 ? root->child(0) : root);
}

std::size_t FileSystemPage::selectedNumber() const {
    const QTreeWidgetItem* item = m_tree->currentItem();
    if (item == nullptr || item->parent() == nullptr) return 0;
    return static_cast<std::size_t>(item->data(0, kNumberRole).toULongLong());
}

const FileSystemRow* FileSystemPage::selected() const {
    const std::size_t n = selectedNumber();
    for (const FileSystemRow& r : m_rows) {
        if (r.number == n) return &r;
    }
    return nullptr;
}

void FileSystemPage::select(std::size_t number) {
    QTreeWidgetItem* root = m_tree->topLevelItem(0);
    for (int i = 0; root != nullptr && i < root->childCount(); ++i) {
        if (root->child(i)->data(0, kNumberRole).toULongLong() == number) m_tree->setCurrentItem(root->child(i));
    }
}

void FileSystemPage::showDetails(CColoredListCtrl& list, const FileSystemRow& r) {
    list.setColumns({{QStringLiteral("Name"), 242}, {QStringLiteral("Value"), 243}});
    const auto type = FileSystemTypeText(r.type);
    list.addRow({QStringLiteral("1.   File System                        :"), QString::number(r.number)});
    list.addRow({QStringLiteral("2.   Partition Type                    :    "),
                 QString::fromUtf8(type.data(), static_cast<qsizetype>(type.size()))});
    list.addRow({QStringLiteral("3.   File System Start                :    "), QString::number(r.start)});
    list.addRow({QStringLiteral("4.   Sectors Per Clusters          :    "), QString::number(r.sectorsPerCluster)});
}

}  // namespace quorlan::ui
