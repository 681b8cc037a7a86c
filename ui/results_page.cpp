#include "ui/results_page.h"

#include <QHBoxLayout>
#include <QMimeDatabase>
#include <QStyle>

namespace quorlan::ui {

namespace {
constexpr int kRowRole = Qt::UserRole + 1;  // the row's index in the listing
}

std::vector<std::pair<QString, int>> FileListColumns() {
    return {{QStringLiteral("Name"), 145}, {QStringLiteral("Type"), 100}, {QStringLiteral("Size"), 70},
            {QStringLiteral("Date"), 100}, {QStringLiteral("Time"), 70},  {QStringLiteral("Debug Info 1"), 0},
            {QStringLiteral("Debug Info 2"), 0}, {QStringLiteral("Debug Info 3"), 0}};
}

std::vector<std::pair<QString, int>> NameValueColumns() {
    return {{QStringLiteral("Name"), 242}, {QStringLiteral("Value"), 243}};
}

ResultsPage::ResultsPage(QWidget* parent) : QObject(parent) {
    m_tree = new CResultTreeView(parent);
    m_tree->setObjectName(QStringLiteral("ResultTree"));
    m_model = new ResultTreeModel(this);
    m_model->setIcons(m_tree->style()->standardIcon(QStyle::SP_DriveHDIcon),
                      m_tree->style()->standardIcon(QStyle::SP_DirIcon),
                      m_tree->style()->standardIcon(QStyle::SP_DirOpenIcon));
    m_tree->setModel(m_model);
    connect(m_tree, &QTreeView::expanded, m_model, [this](const QModelIndex& i) { m_model->setOpen(i, true); });
    connect(m_tree, &QTreeView::collapsed, m_model, [this](const QModelIndex& i) { m_model->setOpen(i, false); });

    m_panel = new QWidget(parent);
    auto* layout = new QHBoxLayout(m_panel);
    layout->addWidget(new CColorStatic(QStringLiteral("Current Folder  :"), m_panel));
    m_currentFolderValue = new CColorStatic(QString(), m_panel);
    m_currentFolderValue->setObjectName(QStringLiteral("currentFolder"));
    layout->addWidget(m_currentFolderValue, 1);
    m_treeLoadLabel = new CColorStatic(QStringLiteral("Loading tree, Please Wait..."), m_panel);
    m_treeLoadLabel->setObjectName(QStringLiteral("treeLoadText"));
    layout->addWidget(m_treeLoadLabel);
    m_treeLoadBar = new CTextProgressCtrl(m_panel);
    m_treeLoadBar->setObjectName(QStringLiteral("treeLoadProgress"));
    layout->addWidget(m_treeLoadBar);
    showTreeLoading(false);
}

void ResultsPage::attach(ResultModel* model) {
    m_model->attach(model);
    m_tree->expand(m_model->index(0, 0));
    m_currentFolder = nullptr;
    m_listed.clear();
    m_currentFolderValue->clear();
}

void ResultsPage::detach() {
    m_model->detach();
    m_currentFolder = nullptr;
    m_listed.clear();
    m_currentFolderValue->clear();
}

void ResultsPage::showTreeLoading(bool shown) {
    m_treeLoadLabel->setVisible(shown);
    m_treeLoadBar->setVisible(shown);
    if (shown) {
        m_treeLoadBar->SetRange(0, 100);
        m_treeLoadBar->SetPos(0);
    }
}

QIcon ResultsPage::iconFor(const ListedRow& row) const {
    if (row.isFolder) return m_tree->style()->standardIcon(QStyle::SP_DirIcon);
    static const QMimeDatabase mime;
    const QMimeType type = mime.mimeTypeForFile(QString::fromStdString(row.name), QMimeDatabase::MatchExtension);
    return QIcon::fromTheme(type.iconName(),
                            QIcon::fromTheme(type.genericIconName(),
                                             m_tree->style()->standardIcon(QStyle::SP_FileIcon)));
}

void ResultsPage::showListing(CColoredListCtrl& list, TreeItem* folder, std::vector<ListedRow> rows, bool ntfs) {
    m_currentFolder = folder;
    m_currentFolderValue->setText(QString::fromStdString(ResultTree::GetItemPath(folder, "\\")));
    list.setColumns(FileListColumns(), true);
    m_listed = std::move(rows);
    for (std::size_t i = 0; i < m_listed.size(); ++i) {
        const ListedRow& r = m_listed[i];
        const auto debug = DebugInfoCells(r, ntfs);
        // Names sort as text, sizes as numbers, dates and times by their stamps.
        const qlonglong stamp = static_cast<qlonglong>(ntfs ? r.rawDate : (r.rawDate << 16 | r.rawTime));
        const qlonglong timeOfDay = static_cast<qlonglong>(ntfs ? r.rawDate % 864000000000ULL : r.rawTime);
        QTreeWidgetItem* item = list.addRow(
            {QString::fromStdString(r.name), QString::fromStdString(r.type), QString::number(r.size),
             QString::fromStdString(r.date), QString::fromStdString(r.time), QString::fromStdString(debug[0]),
             QString::fromStdString(debug[1]), QString::fromStdString(debug[2])},
            {QVariant(), QVariant(), QVariant::fromValue<qlonglong>(static_cast<qlonglong>(r.size)), stamp, timeOfDay});
        item->setIcon(0, iconFor(r));
        item->setData(0, kRowRole, static_cast<int>(i));
        if (r.deleted) {
            for (int c = 0; c < 5; ++c) item->setForeground(c, QColor(160, 0, 0));
        }
        if (r.mayBeIncomplete) {
            // The trust mark: a warning sign beside the type, and the reason over the whole row.
            item->setIcon(1, m_panel->style()->standardIcon(QStyle::SP_MessageBoxWarning));
            const QString tip = QStringLiteral("May be incomplete: ") + QString::fromStdString(r.mayBeIncompleteWhy) +
                                QStringLiteral(
                                    ".\nThe disk cannot vouch for this deleted file's bytes; check the saved "
                                    "file before relying on it.");
            for (int c = 0; c < 5; ++c) item->setToolTip(c, tip);
        }
    }
}

const ListedRow* ResultsPage::rowOf(const QTreeWidgetItem* item) const {
    if (item == nullptr) return nullptr;
    const int i = item->data(0, kRowRole).toInt();
    if (i < 0 || static_cast<std::size_t>(i) >= m_listed.size()) return nullptr;
    return &m_listed[static_cast<std::size_t>(i)];
}

std::vector<ListedRow> ResultsPage::selectedRows(const CColoredListCtrl& list) const {
    std::vector<ListedRow> rows;
    for (const QTreeWidgetItem* item : list.selectedItems()) {
        if (const ListedRow* r = rowOf(item)) rows.push_back(*r);
    }
    return rows;
}

}  // namespace quorlan::ui
