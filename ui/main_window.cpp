#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeDatabase>
#include <QPointer>
#include <QStandardPaths>
#include <QStyle>
#include <QVBoxLayout>

#include "items/save_summary.h"
#include "log/recovery_log.h"

namespace quorlan::ui {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;  // engine tree item id / disk slot / partition index
constexpr std::size_t kListedProblems = 10;  // renamed, incomplete and failed files listed after a save

QString q(const std::string& s) { return QString::fromStdString(s); }

std::vector<std::pair<QString, int>> nameValueColumns() { return {{QStringLiteral("Name"), 242}, {QStringLiteral("Value"), 243}}; }

std::vector<std::pair<QString, int>> fileListColumns() {
    return {{QStringLiteral("Name"), 145}, {QStringLiteral("Type"), 100}, {QStringLiteral("Size"), 70},
            {QStringLiteral("Date"), 100}, {QStringLiteral("Time"), 70},  {QStringLiteral("Debug Info 1"), 0},
            {QStringLiteral("Debug Info 2"), 0}, {QStringLiteral("Debug Info 3"), 0}};
}

}  // namespace

CChildDialogExDemoDlg::CChildDialogExDemoDlg(std::unique_ptr<Prompts> prompts, InventoryRoots roots, QWidget* parent)
    : QWidget(parent),
      m_roots(std::move(roots)),
      m_prompts(prompts ? std::move(prompts) : std::make_unique<QtPrompts>(this)) {
    setWindowTitle(QStringLiteral("Quorlan"));
    setObjectName(QStringLiteral("mainWindow"));
    buildUi();
    connect(&m_pollTimer, &QTimer::timeout, this, &CChildDialogExDemoDlg::poll);
    qApp->installEventFilter(this);
    m_session.RefreshDisks(m_roots);
    fillDiskTree();
    showPage(0);
    setHelp(help::kDiskPage);
}

CChildDialogExDemoDlg::~CChildDialogExDemoDlg() {
    qApp->removeEventFilter(this);
    if (m_worker.joinable()) {
        m_worker.request_stop();
        m_worker.join();
    }
}

void CChildDialogExDemoDlg::buildUi() {
    resize(980, 640);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kPanelColour);
    setPalette(pal);
    auto* grid = new QGridLayout(this);

    auto* toolbar = new QHBoxLayout;
    auto* s = style();
    m_saveBtn = new CBtn(s->standardIcon(QStyle::SP_DialogSaveButton), QStringLiteral("Save"), QStringLiteral("Save"), this);
    m_saveLogBtn = new CBtn(s->standardIcon(QStyle::SP_FileDialogDetailedView), QStringLiteral("Save Log"), QStringLiteral("Save Log"), this);
    m_loadLogBtn = new CBtn(s->standardIcon(QStyle::SP_DialogOpenButton), QStringLiteral("Load Log"), QStringLiteral("Load Log"), this);
    m_openImageBtn = new CBtn(s->standardIcon(QStyle::SP_DriveHDIcon), QStringLiteral("Open Image..."), QStringLiteral("Open Image..."), this);
    m_helpBtn = new CBtn(s->standardIcon(QStyle::SP_DialogHelpButton), QStringLiteral("Help"), QStringLiteral("Help"), this);
    m_aboutBtn = new CBtn(s->standardIcon(QStyle::SP_MessageBoxInformation), QStringLiteral("About Us"), QStringLiteral("About Us"), this);
    m_exitBtn = new CBtn(s->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("Exit"), QStringLiteral("Exit"), this);
    for (CBtn* b : {m_saveBtn, m_saveLogBtn, m_loadLogBtn, m_openImageBtn, m_helpBtn, m_aboutBtn, m_exitBtn}) toolbar->addWidget(b);
    toolbar->addStretch();
    grid->addLayout(toolbar, 0, 0, 1, 2);
    connect(m_saveBtn, &QToolButton::clicked, this, [this] { save(false); });
    connect(m_saveLogBtn, &QToolButton::clicked, this, &CChildDialogExDemoDlg::saveLog);
    connect(m_loadLogBtn, &QToolButton::clicked, this, &CChildDialogExDemoDlg::loadLog);
    connect(m_openImageBtn, &QToolButton::clicked, this, &CChildDialogExDemoDlg::openImage);
    connect(m_helpBtn, &QToolButton::clicked, this, [this] { m_prompts->openHelp(); });
    connect(m_aboutBtn, &QToolButton::clicked, this, [this] { m_prompts->about(); });
    connect(m_exitBtn, &QToolButton::clicked, this, [this] { close(); });

    // Left: the tree of the page.
    m_trees = new QStackedWidget(this);
    m_diskTree = new mytreectrl(this);
    m_diskTree->setObjectName(QStringLiteral("DiskTree"));
    m_partitionTree = new mytreectrl(this);
    m_partitionTree->setObjectName(QStringLiteral("PartitionTree"));
    m_resultTree = new mytreectrl(this);
    m_resultTree->setObjectName(QStringLiteral("ResultTree"));
    for (mytreectrl* t : {m_diskTree, m_partitionTree, m_resultTree}) m_trees->addWidget(t);
    m_trees->setMinimumWidth(260);
    grid->addWidget(m_trees, 1, 0, 2, 1);

    connect(m_diskTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item == nullptr || item->parent() == nullptr) return;
        selectDiskSlot(static_cast<std::size_t>(item->data(0, kIdRole).toULongLong()));
    });
    connect(m_partitionTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item == nullptr || item->parent() == nullptr) return;
        selectPartition(item->data(0, kIdRole).toInt());
    });
    m_resultTree->onCheckClick = [this](QTreeWidgetItem* item) { clickCheckBox(item); };
    m_resultTree->onItemClick = [this](QTreeWidgetItem* item) { listFolder(item); };
    m_resultTree->onArrowKey = [this](QTreeWidgetItem* item, bool) { listFolder(item); };
    m_resultTree->onContextMenu = [this](const QPoint& at) {
        if (m_step < 3) return;
        QMenu menu(this);
        QAction* saveAction = menu.addAction(QStringLiteral("Save"));
        menu.setDefaultAction(saveAction);
        if (menu.exec(at) == saveAction) save(false);
    };
    connect(m_resultTree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (busy()) return;
        if (TreeItem* t = engineItem(item); t != nullptr && ExpandFolder(m_session.recovery(), *m_session.reader(), t)) {
            for (int i = 0; i < item->childCount(); ++i) refreshResultItem(item->child(i));
        }
        if (item->parent() != nullptr) item->setIcon(0, style()->standardIcon(QStyle::SP_DirOpenIcon));
    });
    connect(m_resultTree, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (item->parent() != nullptr) item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    });

    // Right: the page's own panel over the visible list.
    auto* right = new QVBoxLayout;
    m_panels = new QStackedWidget(this);
    m_diskPanel = new QWidget(this);
    auto* diskLayout = new QHBoxLayout(m_diskPanel);
    m_standardRadio = new CCustomRadio(QStringLiteral("Standard Search"), m_diskPanel);
    m_standardRadio->setObjectName(QStringLiteral("standardRadio"));
    m_standardRadio->setEnabled(false);
    m_standardRadio->onSelect = [this] { selectStandardSearch(); };
    diskLayout->addWidget(m_standardRadio);
    diskLayout->addStretch();
    auto* refreshBtn = new QPushButton(style()->standardIcon(QStyle::SP_BrowserReload), QStringLiteral("Refresh List"), m_diskPanel);
    connect(refreshBtn, &QPushButton::clicked, this, &CChildDialogExDemoDlg::refreshList);
    diskLayout->addWidget(refreshBtn);

    m_partitionPanel = new QWidget(this);
    auto* partLayout = new QGridLayout(m_partitionPanel);
    partLayout->addWidget(new CColorStatic(QStringLiteral("Search Mode :"), m_partitionPanel), 0, 0);
    m_modeLabel = new CColorStatic(QStringLiteral("Standard Search"), m_partitionPanel);
    partLayout->addWidget(m_modeLabel, 0, 1);
    partLayout->addWidget(new CColorStatic(QStringLiteral("Start Sector :"), m_partitionPanel), 1, 0);
    m_startEdit = new QLineEdit(m_partitionPanel);
    m_startEdit->setEnabled(false);
    partLayout->addWidget(m_startEdit, 1, 1);
    partLayout->addWidget(new CColorStatic(QStringLiteral("End Sector  :"), m_partitionPanel), 2, 0);
    m_endEdit = new QLineEdit(m_partitionPanel);
    m_endEdit->setEnabled(false);
    partLayout->addWidget(m_endEdit, 2, 1);

    m_searchPanel = new QGroupBox(this);
    auto* searchLayout = new QGridLayout(m_searchPanel);
    int row = 0;
    for (const char* label : {"Searching in Physical Drive\t:", "Selected File System\t\t:", "Folders Found\t\t\t:",
                              "Searching Criteria\t\t:", "Searching from sectors"}) {
        auto* l = new CColorStatic(QString::fromLatin1(label).replace(QLatin1Char('\t'), QLatin1Char(' ')), m_searchPanel);
        if (std::string(label).starts_with("Folders Found")) m_foldersFoundLabel = l;
        searchLayout->addWidget(l, row, 0);
        auto* v = new CColorStatic(QString(), m_searchPanel);
        v->setObjectName(QString::fromLatin1(label).section(QLatin1Char('\t'), 0, 0));
        m_searchValues[std::string(label).substr(0, std::string(label).find('\t'))] = v;
        searchLayout->addWidget(v, row++, 1);
    }
    m_searchBar = new CTextProgressCtrl(m_searchPanel);
    m_searchBar->setObjectName(QStringLiteral("searchProgress"));
    searchLayout->addWidget(m_searchBar, row++, 0, 1, 2);
    m_searchStatus = new CColorStatic(QString(), m_searchPanel);
    m_searchStatus->setObjectName(QStringLiteral("searchStatus"));
    searchLayout->addWidget(m_searchStatus, row++, 0, 1, 2);

    m_resultsPanel = new QWidget(this);
    auto* resultsLayout = new QHBoxLayout(m_resultsPanel);
    resultsLayout->addWidget(new CColorStatic(QStringLiteral("Current Folder  :"), m_resultsPanel));
    m_currentFolderValue = new CColorStatic(QString(), m_resultsPanel);
    m_currentFolderValue->setObjectName(QStringLiteral("currentFolder"));
    resultsLayout->addWidget(m_currentFolderValue, 1);
    m_treeLoadBar = new CTextProgressCtrl(m_resultsPanel);
    m_treeLoadBar->setVisible(false);
    resultsLayout->addWidget(m_treeLoadBar);

    for (QWidget* w : {m_diskPanel, m_partitionPanel, m_searchPanel, m_resultsPanel}) m_panels->addWidget(w);
    m_panels->setMaximumHeight(240);
    right->addWidget(m_panels);
    m_list = new CColoredListCtrl(this);
    m_list->setObjectName(QStringLiteral("PropertyList"));
    m_list->setColumns({{QStringLiteral(" Disk Details"), 485}});
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (m_step < 3 || m_list->selectedItems().isEmpty()) return;
        QMenu menu(this);
        QAction* open = menu.addAction(QStringLiteral("Open"));
        menu.addSeparator();
        QAction* saveAction = menu.addAction(QStringLiteral("Save"));
        menu.setDefaultAction(saveAction);
        QAction* saveAll = menu.addAction(QStringLiteral("Save All"));
        QAction* chosen = menu.exec(m_list->viewport()->mapToGlobal(pos));
        if (chosen == open) openItem();
        if (chosen == saveAction) save(false);
        if (chosen == saveAll) save(true);
    });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { openItem(); });
    connect(m_list, &QTreeWidget::itemPressed, this, [this] { m_treeHasFocusFlag = false; });
    m_list->header()->setSortIndicatorShown(false);
    right->addWidget(m_list, 1);
    grid->addLayout(right, 1, 1, 2, 1);

    m_help = new CColorStatic(QString(), this);
    m_help->setObjectName(QStringLiteral("helpText"));
    m_help->setWordWrap(true);
    m_help->setMinimumHeight(48);
    grid->addWidget(m_help, 3, 0, 1, 2);

    auto* nav = new QHBoxLayout;
    m_stopSearch = new QPushButton(style()->standardIcon(QStyle::SP_BrowserStop), QStringLiteral("Stop Searching"), this);
    m_stopSearch->setToolTip(QStringLiteral("Stop Search"));
    m_stopSearch->setVisible(false);
    connect(m_stopSearch, &QPushButton::clicked, this, &CChildDialogExDemoDlg::stopSearch);
    nav->addWidget(m_stopSearch);
    nav->addStretch();
    m_back = new QPushButton(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Back"), this);
    m_next = new QPushButton(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Next"), this);
    m_back->setToolTip(QStringLiteral("Back"));
    m_next->setToolTip(QStringLiteral("Next"));
    connect(m_back, &QPushButton::clicked, this, &CChildDialogExDemoDlg::back);
    connect(m_next, &QPushButton::clicked, this, &CChildDialogExDemoDlg::next);
    nav->addWidget(m_back);
    nav->addWidget(m_next);
    grid->addLayout(nav, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);
}

void CChildDialogExDemoDlg::showPage(int step) {
    m_step = step;
    const int tree = step == 0 ? 0 : step == 1 ? 1 : 2;
    m_trees->setCurrentIndex(tree);
    m_panels->setCurrentWidget(step == 0 ? m_diskPanel : step == 1 ? m_partitionPanel : m_resultsPanel);
    m_back->setEnabled(step > 0);
    m_next->setVisible(step < 3);
    m_loadLogBtn->setEnabled(step == 1);
    m_openImageBtn->setEnabled(step == 0);
    enableResultCommands(step == 3);
}

void CChildDialogExDemoDlg::enableResultCommands(bool on) {
    m_saveBtn->setEnabled(on);
    m_saveLogBtn->setEnabled(on);
}

// ---- disk page ----

void CChildDialogExDemoDlg::fillDiskTree() {
    m_diskTree->clear();
    auto* root = new QTreeWidgetItem(m_diskTree, {QStringLiteral("My Computer")});
    root->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
    for (const DiskInfo& d : m_session.disks()) {
        auto* item = new QTreeWidgetItem(root, {q(DiskTreeNodeText(d))});
        item->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
        item->setData(0, kIdRole, QVariant::fromValue<qulonglong>(d.Index));
        item->setToolTip(0, q(d.DeviceID));
    }
    root->setExpanded(true);
    m_selectedSlot.reset();
    m_standardRadio->setEnabled(false);
    m_standardRadio->setAutoExclusive(false);
    m_standardRadio->setChecked(false);
    m_standardRadio->setAutoExclusive(true);
    m_searchMode.reset();
    m_next->setEnabled(false);
    m_list->setColumns({{QStringLiteral(" Disk Details"), 485}});
    if (m_session.disks().empty()) {
        // Shown once the window is up, so that the window answers meanwhile.
        QTimer::singleShot(0, this, [this] {
            if (!m_session.disks().empty() || m_closing) return;
            QString image;
            switch (m_prompts->noMedia(image)) {
                case Prompts::NoMedia::Retry:
                    refreshList();
                    break;
                case Prompts::NoMedia::OpenImage:
                    addImage(image);
                    break;
                case Prompts::NoMedia::Exit:
                    m_closing = true;
                    close();
                    break;
            }
        });
    }
}

void CChildDialogExDemoDlg::refreshList() {
    if (m_step != 0 || busy()) return;
    m_session.RefreshDisks(m_roots);
    fillDiskTree();
}

bool CChildDialogExDemoDlg::addImage(const QString& path) {
    auto slot = m_session.AddImage(path.toStdString());
    if (!slot) {
        m_prompts->message(QStringLiteral("Unable to open the disk image %1: %2").arg(path, q(slot.error().message)),
                           BoxIcon::Stop);
        return false;
    }
    fillDiskTree();
    QTreeWidgetItem* root = m_diskTree->topLevelItem(0);
    for (int i = 0; i < root->childCount(); ++i) {
        if (root->child(i)->data(0, kIdRole).toULongLong() == *slot) m_diskTree->setCurrentItem(root->child(i));
    }
    return true;
}

void CChildDialogExDemoDlg::openImage() {
    if (m_step != 0 || busy()) return;
    if (auto file = m_prompts->openImageFile()) addImage(*file);
}

void CChildDialogExDemoDlg::selectDiskSlot(std::size_t slot) {
    if (m_step != 0) return;
    m_selectedSlot = slot;
    showDiskDetails(slot);
    m_standardRadio->setEnabled(true);
    if (m_searchMode == SearchMode::Standard) m_next->setEnabled(true);
}

void CChildDialogExDemoDlg::showDiskDetails(std::size_t slot) {
    m_list->setColumns({{QStringLiteral(" Disk Details"), 485}});
    if (const DiskInfo* d = m_session.disk(slot)) {
        for (const auto& [name, value] : DiskDetailsRows(*d)) new QTreeWidgetItem(m_list, {q(name + " " + value)});
    }
}

void CChildDialogExDemoDlg::selectStandardSearch() {
    if (m_step != 0 || !m_standardRadio->isEnabled()) return;
    m_standardRadio->setChecked(true);
    m_searchMode = SearchMode::Standard;
    m_next->setEnabled(m_selectedSlot.has_value());
}

// ---- partition page ----

void CChildDialogExDemoDlg::fillPartitionPage() {
    m_partitionTree->clear();
    const std::size_t slot = *m_selectedSlot;
    auto* root = new QTreeWidgetItem(m_partitionTree, {q(DiskNodeText(slot))});
    root->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
    const auto& parts = m_session.partitions().partitions;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        auto* item = new QTreeWidgetItem(root, {q(PartitionNodeText(static_cast<int>(i + 1), parts[i].type))});
        item->setIcon(0, style()->standardIcon(QStyle::SP_DriveFDIcon));
        item->setData(0, kIdRole, static_cast<int>(i));
    }
    root->setExpanded(true);
    m_partitionIndex = -1;
    m_list->setColumns(nameValueColumns());
    m_startEdit->clear();
    m_endEdit->clear();
    m_modeLabel->setText(QStringLiteral("Standard Search"));
    if (!parts.empty()) m_partitionTree->setCurrentItem(root->child(0));
}

void CChildDialogExDemoDlg::selectPartition(int index) {
    if (m_step != 1) return;
    const auto& parts = m_session.partitions().partitions;
    if (index < 0 || static_cast<std::size_t>(index) >= parts.size()) return;
    m_partitionIndex = index;
    showPartitionDetails(index);
}

void CChildDialogExDemoDlg::showPartitionDetails(int index) {
    const PartitionEntry& p = m_session.partitions().partitions[static_cast<std::size_t>(index)];
    m_list->setColumns(nameValueColumns());
    for (const auto& [name, value] : PartitionDetailsRows(SearchMode::Standard, *m_selectedSlot, static_cast<std::size_t>(index), p)) {
        new QTreeWidgetItem(m_list, {q(name), q(value)});
    }
    m_startEdit->setText(QString::number(p.start));
    m_endEdit->setText(QString::number(p.end));
    m_modeLabel->setText(QStringLiteral("Standard Search"));
}

void CChildDialogExDemoDlg::next() {
    if (busy()) return;
    if (m_step == 0) {
        if (!m_selectedSlot || m_searchMode != SearchMode::Standard) return;
        auto selected = m_session.SelectDisk(*m_selectedSlot);
        if (!selected) {
            const Error& e = selected.error();
            QString text = q(e.message);
            if (e.kind == ErrorKind::PermissionDenied) {
                text = QStringLiteral("Quorlan may not read this disk: %1.\n\nRun Quorlan as root (for example with "
                                      "sudo), or make an image of the disk with dd or ddrescue and open the image with "
                                      "'Open Image...'.")
                           .arg(text);
            }
            m_prompts->message(text, BoxIcon::Stop);
            return;
        }
        showPage(1);
        fillPartitionPage();
        setHelp(m_session.partitions().partitions.empty() ? help::kNoPartition : help::kPartitionPageNext);
        return;
    }
    if (m_step != 1) return;
    const auto& parts = m_session.partitions().partitions;
    if (m_partitionIndex < 0 || static_cast<std::size_t>(m_partitionIndex) >= parts.size()) {
        setHelp(help::kNoPartition);
        return;
    }
    const PartitionEntry& p = parts[static_cast<std::size_t>(m_partitionIndex)];
    if (!StandardSearchAccepts(p.type)) {
        m_prompts->standardGuidance();
        setHelp(help::kNoPartition);
        return;
    }
    auto request = m_session.PrepareStandardSearch(static_cast<std::size_t>(m_partitionIndex));
    if (!request) {
        m_prompts->message(q(request.error().message), BoxIcon::Stop);
        return;
    }
    if (p.type == FileSystemType::Ntfs && !request->ntfs) m_prompts->standardGuidance();

    m_searchValues["Searching in Physical Drive"]->setText(QString::number(*m_selectedSlot));
    m_searchValues["Selected File System"]->setText(q(PartitionTypeName(p.type)));
    m_searchValues["Folders Found"]->setText(QStringLiteral("0"));
    m_searchValues["Searching Criteria"]->setText(QStringLiteral("Standard Search"));
    m_searchValues["Searching from sectors"]->setText(QStringLiteral("%1 to %2").arg(p.start).arg(p.end));
    // A FAT search counts the directory clusters it finds, an NTFS search the $MFT records it reads.
    const bool ntfs = p.type == FileSystemType::Ntfs;
    m_shownCounter = ntfs ? Counter::RecordsFound : Counter::FoldersFound;
    m_foldersFoundLabel->setText(ntfs ? QStringLiteral("MFT Found :") : QStringLiteral("Directories Found :"));
    m_searchBar->SetRange(0, 100);
    m_searchBar->SetPos(0);
    m_searchStatus->clear();
    m_panels->setCurrentWidget(m_searchPanel);
    m_list->clear();
    resetResults();
    m_step = 3;
    m_next->setVisible(false);
    m_back->setEnabled(false);
    m_loadLogBtn->setEnabled(false);
    m_stopSearch->setVisible(true);
    setHelp(help::kSearchStarted);
    const SearchRequest req = *request;
    m_unreadableAtStart = m_session.reader()->unreadableSectors();
    auto result = std::make_shared<SearchResult>();
    startWorker(
        [this, req, result](std::stop_token stop) {
            *result = RunSearch(req, *m_session.reader(), m_session.recovery(), RunContext{*m_observer, stop});
        },
        [this, result] { searchFinished(*result); });
}

void CChildDialogExDemoDlg::stopSearch() {
    if (busy() && m_worker.joinable()) m_worker.request_stop();
}

void CChildDialogExDemoDlg::searchFinished(SearchResult result) {
    m_stopSearch->setVisible(false);
    const ObservedState s = m_observer ? m_observer->take() : ObservedState{};
    buildResultTree();
    showPage(3);
    m_list->setColumns(fileListColumns());
    setHelp(result.outcome == SearchOutcome::Stopped ? help::kResults : help::kSearchFinished);
    if (const std::uint64_t bad = m_session.reader()->unreadableSectors() - m_unreadableAtStart; bad > 0) {
        setHelp(m_help->text() + QStringLiteral("\n") + q(UnreadableSectorsText(bad)));
    }
    if (result.nothingFound) m_prompts->standardGuidance();
}

// ---- results ----

void CChildDialogExDemoDlg::resetResults() {
    m_resultTree->clear();
    m_itemsById.clear();
    m_currentFolder = nullptr;
    m_listed.clear();
    m_currentFolderValue->clear();
}

void CChildDialogExDemoDlg::buildResultTree() {
    resetResults();
    ResultTree& tree = m_session.recovery().model.tree;
    std::unordered_map<const TreeItem*, QTreeWidgetItem*> made;
    ResultTree::ForEach(tree.root(), [&](TreeItem* t) {
        QTreeWidgetItem* item = t->parent == nullptr ? new QTreeWidgetItem(m_resultTree)
                                                     : new QTreeWidgetItem(made.at(t->parent));
        item->setData(0, kIdRole, QVariant::fromValue<qlonglong>(t->id));
        made[t] = item;
        m_itemsById[t->id] = item;
        refreshResultItem(item);
    });
    if (QTreeWidgetItem* root = m_resultTree->topLevelItem(0)) {
        root->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
        root->setExpanded(true);
    }
}

TreeItem* CChildDialogExDemoDlg::engineItem(QTreeWidgetItem* item) const {
    if (item == nullptr) return nullptr;
    return m_session.recovery().model.tree.FindItem(item->data(0, kIdRole).toLongLong());
}

void CChildDialogExDemoDlg::refreshResultItem(QTreeWidgetItem* item) {
    const TreeItem* t = engineItem(item);
    if (t == nullptr) return;
    item->setText(0, q(t->text));
    item->setData(0, Qt::CheckStateRole,
                  t->check == kChecked ? Qt::Checked : t->check == kPartlyChecked ? Qt::PartiallyChecked : Qt::Unchecked);
    if (t->parent != nullptr && item->icon(0).isNull()) item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    const FolderNode* node = m_session.recovery().model.FindFolderNode(t);
    if (node != nullptr && node->deleted) item->setForeground(0, QColor(160, 0, 0));
}

void CChildDialogExDemoDlg::refreshChecks(QTreeWidgetItem* item) {
    // The item's subtree and its ancestors are what a click changes. The subtree is walked
    // without recursion: a damaged disk can chain folders very deep.
    std::vector<QTreeWidgetItem*> pending{item};
    while (!pending.empty()) {
        QTreeWidgetItem* i = pending.back();
        pending.pop_back();
        refreshResultItem(i);
        for (int c = 0; c < i->childCount(); ++c) pending.push_back(i->child(c));
    }
    for (QTreeWidgetItem* p = item->parent(); p != nullptr; p = p->parent()) refreshResultItem(p);
}

void CChildDialogExDemoDlg::clickCheckBox(QTreeWidgetItem* item) {
    if (m_step != 3 || busy()) return;
    TreeItem* t = engineItem(item);
    if (t == nullptr) return;
    ResultTree::ClickCheckBox(t);
    refreshChecks(item);
}

void CChildDialogExDemoDlg::listFolder(QTreeWidgetItem* item, FolderListing listing) {
    if (m_step != 3 || busy()) return;
    TreeItem* t = engineItem(item);
    if (t == nullptr) return;
    m_resultTree->setCurrentItem(item);
    if (m_populate == nullptr) m_populate = new CPopulate(this);
    m_populate->move(geometry().center() - m_populate->rect().center());
    m_populate->show();
    m_treeHasFocusFlag = true;
    QWidget* focused = QApplication::focusWidget();
    setEnabled(false);
    auto rows = std::make_shared<std::vector<ListedRow>>();
    startWorker(
        [this, t, rows, listing](std::stop_token) {
            *rows = ListFolder(m_session.recovery(), *m_session.reader(), t, listing);
        },
        [this, t, item, rows, focused = QPointer<QWidget>(focused)] {
            m_populate->hide();
            setEnabled(true);
            if (focused) {
                activateWindow();
                focused->setFocus();  // disabling the window took the focus away
            }
            m_currentFolder = t;
            m_currentFolderValue->setText(q(ResultTree::GetItemPath(t, "\\")));
            // Listing names sub-folders from their directory entries.
            for (int i = 0; i < item->childCount(); ++i) refreshResultItem(item->child(i));
            fillFileList(*rows);
        });
}

QIcon CChildDialogExDemoDlg::iconFor(const ListedRow& row) {
    if (row.isFolder) return style()->standardIcon(QStyle::SP_DirIcon);
    static QMimeDatabase mime;
    const QMimeType type = mime.mimeTypeForFile(q(row.name), QMimeDatabase::MatchExtension);
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), style()->standardIcon(QStyle::SP_FileIcon)));
}

void CChildDialogExDemoDlg::fillFileList(const std::vector<ListedRow>& rows) {
    m_list->setColumns(fileListColumns());
    m_listed = rows;
    const bool ntfs = m_session.recovery().params.isNtfs();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ListedRow& r = rows[i];
        const auto debug = DebugInfoCells(r, ntfs);
        auto* item = new QTreeWidgetItem(m_list, {q(r.name), q(r.type), QString::number(r.size), q(r.date), q(r.time),
                                                  q(debug[0]), q(debug[1]), q(debug[2])});
        item->setIcon(0, iconFor(r));
        item->setData(0, kIdRole, static_cast<int>(i));
        if (r.deleted) {
            for (int c = 0; c < 5; ++c) item->setForeground(c, QColor(160, 0, 0));
        }
        if (r.mayBeIncomplete) {
            // The trust mark: a warning sign beside the type, and the reason over the whole row.
            item->setIcon(1, style()->standardIcon(QStyle::SP_MessageBoxWarning));
            const QString tip = QStringLiteral("May be incomplete: ") + q(r.mayBeIncompleteWhy) +
                                QStringLiteral(
                                    ".\nThe disk cannot vouch for this deleted file's bytes; check the saved "
                                    "file before relying on it.");
            for (int c = 0; c < 5; ++c) item->setToolTip(c, tip);
        }
    }
}

void CChildDialogExDemoDlg::openItem() {
    if (m_step != 3 || busy()) return;
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) return;
    const auto row = static_cast<std::size_t>(selected.first()->data(0, kIdRole).toInt());
    if (row >= m_listed.size() || !m_listed[row].isFolder) return;
    const auto it = m_itemsById.find(m_listed[row].itemId);
    if (it == m_itemsById.end()) return;
    for (QTreeWidgetItem* p = it->second->parent(); p != nullptr; p = p->parent()) p->setExpanded(true);
    m_resultTree->scrollToItem(it->second);
    listFolder(it->second, FolderListing::Open);
}

// ---- saving ----

void CChildDialogExDemoDlg::save(bool all) {
    if (m_step != 3 || busy()) return;
    if (m_lastDestination.isEmpty()) {
        m_lastDestination = QStandardPaths::writableLocation(QStandardPaths::HomeLocation) + QStringLiteral("/Recovered");
    }
    const auto destination = m_prompts->saveDestination(m_lastDestination);
    if (!destination) return;
    m_lastDestination = *destination;
    if (auto ok = m_session.CheckSaveDestination(destination->toStdString()); !ok) {
        m_prompts->message(q(ok.error().message), BoxIcon::Stop);
        return;
    }
    SaveSelection selection;
    selection.all = all;
    selection.listedFolder = m_currentFolder;
    for (QTreeWidgetItem* row : m_list->selectedItems()) {
        const int i = row->data(0, kIdRole).toInt();
        if (i >= 0 && static_cast<std::size_t>(i) < m_listed.size()) selection.selectedRows.push_back(m_listed[static_cast<std::size_t>(i)]);
    }
    runSave(selection, *destination);
}

CollisionDecision CChildDialogExDemoDlg::askReplace(const std::string& existing, const std::string& proposed) {
    return m_prompts->replaceFile(q(existing), q(proposed));
}

void CChildDialogExDemoDlg::runSave(const SaveSelection& selection, const QString& destination) {
    if (m_calculating == nullptr) {
        m_calculating = new CalculatingDialog(this);
        m_saving = new SavingDialog(this);
        connect(m_calculating->stopButton, &QPushButton::clicked, this, [this] { m_worker.request_stop(); });
        connect(m_saving->stopButton, &QPushButton::clicked, this, [this] { m_worker.request_stop(); });
        connect(m_saving->skipButton, &QPushButton::clicked, this, [this] {
            if (m_saveControl) m_saveControl->skip.store(true);
        });
    }
    m_calculating->setCount(0);
    m_calculating->show();
    auto summary = std::make_shared<std::optional<SaveSummary>>();
    const std::string dest = destination.toStdString();
    m_unreadableAtStart = m_session.reader()->unreadableSectors();
    startWorker(
        [this, selection, dest, summary](std::stop_token stop) {
            SavePlan plan = PlanSave(m_session.recovery(), *m_session.reader(), selection, *m_observer, stop);
            if (plan.stopped) return;
            QMetaObject::invokeMethod(this, [this] {
                m_calculating->hide();
                m_saving->show();
            }, Qt::QueuedConnection);
            m_saveControl->stop = stop;
            *summary = SaveItems(m_session.recovery(), *m_session.reader(), plan, dest, *m_observer, *m_saveControl);
        },
        [this, summary, destination] {
            m_calculating->hide();
            m_saving->hide();
            // Listing during the save named sub-folders: the tree shows the names.
            for (auto& [id, item] : m_itemsById) refreshResultItem(item);
            if (!*summary) return;  // counting was stopped: nothing was written
            const SaveSummary& s = **summary;
            // The summary the command line prints, with at most kListedProblems entries of each list.
            QStringList lines;
            for (const std::string& line : SaveSummaryLines(s, destination.toStdString(), kListedProblems)) {
                lines << q(line);
            }
            if (const std::uint64_t bad = m_session.reader()->unreadableSectors() - m_unreadableAtStart; bad > 0) {
                lines << q(UnreadableSectorsText(bad));
            }
            QString text = lines.join(QLatin1Char('\n'));
            if (s.outcome == SaveOutcome::Failed) text += QStringLiteral("\n") + q(s.failure);
            if (s.outcome == SaveOutcome::Stopped || s.outcome == SaveOutcome::Cancelled) text += QStringLiteral("\nSaving was stopped.");
            m_prompts->message(text, s.failed.empty() && s.outcome != SaveOutcome::Failed ? BoxIcon::Information : BoxIcon::Warning);
        });
}

// ---- recovery log ----

void CChildDialogExDemoDlg::saveLog() {
    if (m_step != 3 || busy()) return;
    if (m_session.recovery().params.PartType == FileSystemType::Fat12) {
        m_prompts->message(QString::fromLatin1(kMsgLogFloppy), BoxIcon::Stop, QStringLiteral("Error"));
        return;
    }
    const auto file = m_prompts->saveLogFile();
    if (!file) return;
    auto written = WriteRecoveryLog(RecoveryLogPath(file->toStdString()), m_session.recovery(), m_session.selectedDiskModel());
    if (!written) m_prompts->message(q(written.error().message), BoxIcon::Stop);
}

void CChildDialogExDemoDlg::loadLog() {
    if (m_step != 1 || busy()) return;
    m_next->setEnabled(false);
    m_back->setEnabled(false);
    m_loadLogBtn->setEnabled(false);
    const auto file = m_prompts->openLogFile();
    if (!file) {
        m_next->setEnabled(true);
        m_back->setEnabled(true);
        m_loadLogBtn->setEnabled(true);
        return;
    }
    setHelp(QStringLiteral("Please wait..."));
    resetResults();
    m_step = 3;
    m_trees->setCurrentWidget(m_resultTree);
    m_panels->setCurrentWidget(m_resultsPanel);
    m_treeLoadBar->SetRange(0, 100);
    m_treeLoadBar->SetPos(0);
    m_treeLoadBar->setVisible(true);
    auto ok = std::make_shared<Result<void>>();
    const std::string path = file->toStdString();
    const std::string model = m_session.selectedDiskModel();
    startWorker(
        [this, ok, path, model](std::stop_token) {
            *ok = LoadRecoveryLog(path, model, m_session.recovery(), *m_session.reader(), *m_observer);
        },
        [this, ok] {
            m_treeLoadBar->setVisible(false);
            if (!*ok) {
                m_prompts->message(q(ok->error().message), BoxIcon::Stop);
                showPage(1);
                m_next->setEnabled(true);
                setHelp(help::kPartitionPageNext);
                return;
            }
            buildResultTree();
            showPage(3);
            m_list->setColumns(fileListColumns());
            setHelp(help::kResults);
        });
}

// ---- navigation and shut-down ----

void CChildDialogExDemoDlg::back() {
    if (busy()) return;
    enableResultCommands(false);
    if (m_step == 3) {
        resetResults();
        m_session.recovery().model.Clear();
        m_session.tables().ClearSearchTables();
        showPage(1);
        fillPartitionPage();
        m_next->setEnabled(true);
        setHelp(help::kPartitionPageBack);
    } else if (m_step == 1) {
        m_session.BackToDiskPage();
        showPage(0);
        m_session.RefreshDisks(m_roots);
        fillDiskTree();
        setHelp(help::kDiskPage);
    }
}

bool CChildDialogExDemoDlg::exitProgram() {
    if (m_step == 3 && !busy() && m_prompts->question(QStringLiteral("Do you want to save the recovery?"))) saveLog();
    if (!m_prompts->question(QStringLiteral("Do you want to exit from Quorlan?"), true)) return false;
    m_closing = true;
    if (m_worker.joinable()) {
        m_worker.request_stop();
        // A search or a save ends within one chunk of the stop; a listing or a log load runs to
        // its end. None of them waits for this thread then.
        m_worker.join();
    }
    m_workerDone = true;
    return true;
}

void CChildDialogExDemoDlg::closeEvent(QCloseEvent* event) {
    if (m_closing || exitProgram()) {
        m_closing = true;
        event->accept();
    } else {
        event->ignore();
    }
}

bool CChildDialogExDemoDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (w == nullptr || (w != this && !isAncestorOf(w))) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            return true;  // neither closes the window nor presses a button
        case Qt::Key_Tab:
            if (m_step == 3) {
                if (m_treeHasFocusFlag) {
                    m_list->setFocus();
                } else {
                    m_resultTree->setFocus();
                }
                m_treeHasFocusFlag = !m_treeHasFocusFlag;
                return true;
            }
            return false;
        case Qt::Key_Right:
            // Right on a folder of the results opens it and lists it (deleted sub-folders show as
            // "Deleted FOLDER" in this listing).
            if (m_step == 3 && m_resultTree->hasFocus() && m_resultTree->currentItem() != nullptr && !busy()) {
                QTreeWidgetItem* item = m_resultTree->currentItem();
                item->setExpanded(true);
                listFolder(item, FolderListing::Expand);
                return true;
            }
            return false;
        case Qt::Key_F6:
            (m_step == 1 ? static_cast<QWidget*>(m_partitionTree) : m_step >= 3 ? m_resultTree : m_diskTree)->setFocus();
            if (m_step >= 3) m_treeHasFocusFlag = true;
            return true;
        case Qt::Key_F7:
            m_list->setFocus();
            if (m_list->topLevelItemCount() > 0) m_list->setCurrentItem(m_list->topLevelItem(0));
            return true;
        case Qt::Key_F1:
            m_prompts->openHelp();
            return true;
        default:
            return false;
    }
}

// ---- workers ----

void CChildDialogExDemoDlg::startWorker(std::function<void(std::stop_token)> work, std::function<void()> done) {
    if (m_worker.joinable()) m_worker.join();
    m_observer = std::make_unique<GuiObserver>(this, [this](const std::string& e, const std::string& p) { return askReplace(e, p); });
    m_saveControl = std::make_unique<SaveControl>();
    m_workerDone = false;
    m_pollTimer.start(150);
    m_worker = std::jthread([this, work = std::move(work), done = std::move(done)](std::stop_token stop) mutable {
        m_observer->setStop(stop);
        work(stop);
        QMetaObject::invokeMethod(this, [this, done = std::move(done)] {
            if (m_worker.joinable()) m_worker.join();  // the exit path may have joined it already
            m_workerDone = true;
            m_pollTimer.stop();
            if (m_closing) return;
            poll();
            done();
        }, Qt::QueuedConnection);
    });
}

void CChildDialogExDemoDlg::poll() {
    if (!m_observer) return;
    applyObserved(m_observer->take());
}

void CChildDialogExDemoDlg::applyObserved(const ObservedState& s) {
    m_searchBar->SetRange(0, 100);
    m_searchBar->SetPos(s.total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(100, s.done * 100 / s.total)));
    m_treeLoadBar->SetPos(s.total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(100, s.done * 100 / s.total)));
    m_searchStatus->setText(q(s.status));
    if (auto it = s.counters.find(m_shownCounter); it != s.counters.end()) {
        m_searchValues["Folders Found"]->setText(QString::number(it->second));
    }
    if (m_calculating != nullptr && m_calculating->isVisible()) m_calculating->setCount(s.counting);
    if (m_saving != nullptr && m_saving->isVisible()) {
        m_saving->setFile(q(s.fileName), q(s.filePath), s.fileNumber, s.fileTotal);
        m_saving->setFileProgress(s.fileDone, s.fileSize);
        m_saving->setStatus(QStringLiteral("Saving file %1 of %2").arg(s.fileNumber).arg(s.fileTotal));
    }
    for (const std::string& m : s.messages) m_prompts->message(q(m), BoxIcon::Stop);
}

void CChildDialogExDemoDlg::waitForWorker() {
    while (busy()) QApplication::processEvents(QEventLoop::AllEvents, 20);
    QApplication::processEvents();
}

}  // namespace quorlan::ui
