#include "ui/main_window.h"

#include "core/udisks_open.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "items/save_summary.h"
#include "log/recovery_log.h"
#include "search/advance_search.h"

namespace quorlan::ui {

namespace {

constexpr std::size_t kListedProblems = 10;  // renamed, incomplete and failed files listed after a save

QString q(const std::string& s) { return QString::fromStdString(s); }

void fillDetails(CColoredListCtrl& list, const DetailRows& rows) {
    list.setColumns(NameValueColumns());
    for (const auto& [name, value] : rows) list.addRow({q(name), q(value)});
}

}  // namespace

CChildDialogExDemoDlg::CChildDialogExDemoDlg(std::unique_ptr<Prompts> prompts, InventoryRoots roots, QWidget* parent)
    : QWidget(parent),
      m_roots(std::move(roots)),
      m_prompts(prompts ? std::move(prompts) : std::make_unique<QtPrompts>(this)) {
    setWindowTitle(QStringLiteral("Quorlan"));
    setObjectName(QStringLiteral("mainWindow"));
    m_runner = new WorkerRunner(this, [this](const std::string& existing, const std::string& proposed) {
        return m_prompts->replaceFile(q(existing), q(proposed));
    });
    connect(m_runner, &WorkerRunner::progress, this, &CChildDialogExDemoDlg::showProgress);
    buildUi();
    qApp->installEventFilter(this);
    m_session.RefreshDisks(m_roots);
    fillDiskPage();
    applyState();
    // The watcher calls from its own thread; the list is refreshed on the window's.
    m_diskWatcher = std::make_unique<DiskWatcher>(m_roots, [this](const std::vector<DiskInfo>&) {
        QMetaObject::invokeMethod(this, [this] { refreshList(); }, Qt::QueuedConnection);
    });
}

CChildDialogExDemoDlg::~CChildDialogExDemoDlg() {
    m_diskWatcher.reset();
    qApp->removeEventFilter(this);
    m_runner->shutDown();
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
    auto button = [&](QStyle::StandardPixmap icon, const char* text) {
        auto* b = new CBtn(s->standardIcon(icon), QString::fromLatin1(text), QString::fromLatin1(text), this);
        toolbar->addWidget(b);
        return b;
    };
    m_saveBtn = button(QStyle::SP_DialogSaveButton, "Save");
    m_saveLogBtn = button(QStyle::SP_FileDialogDetailedView, "Save Log");
    m_loadLogBtn = button(QStyle::SP_DialogOpenButton, "Load Log");
    m_openImageBtn = button(QStyle::SP_DriveHDIcon, "Open Image...");
    m_helpBtn = button(QStyle::SP_DialogHelpButton, "Help");
    m_aboutBtn = button(QStyle::SP_MessageBoxInformation, "About Us");
    m_exitBtn = button(QStyle::SP_DialogCloseButton, "Exit");
    toolbar->addStretch();
    grid->addLayout(toolbar, 0, 0, 1, 2);
    connect(m_saveBtn, &QToolButton::clicked, this, [this] { save(false); });
    connect(m_saveLogBtn, &QToolButton::clicked, this, &CChildDialogExDemoDlg::saveLog);
    connect(m_loadLogBtn, &QToolButton::clicked, this, &CChildDialogExDemoDlg::loadLog);
    connect(m_openImageBtn, &QToolButton::clicked, this, &CChildDialogExDemoDlg::openImage);
    connect(m_helpBtn, &QToolButton::clicked, this, [this] { m_prompts->openHelp(); });
    connect(m_aboutBtn, &QToolButton::clicked, this, [this] { m_prompts->about(); });
    connect(m_exitBtn, &QToolButton::clicked, this, [this] { close(); });

    m_diskPage = new DiskPage(this);
    m_partitionPage = new PartitionPage(this);
    m_fileSystemPage = new FileSystemPage(this);
    m_results = new ResultsPage(this);
    m_searchPanel = new SearchPanel(this);

    // Left: the tree of the page. Right: the page's panel (or the search panel) over the list.
    m_trees = new QStackedWidget(this);
    for (QWidget* t : std::initializer_list<QWidget*>{m_diskPage->tree(), m_partitionPage->tree(),
                                                      m_fileSystemPage->tree(), m_results->tree()}) {
        m_trees->addWidget(t);
    }
    m_trees->setMinimumWidth(260);
    grid->addWidget(m_trees, 1, 0, 2, 1);
    m_panels = new QStackedWidget(this);
    for (QWidget* p : std::initializer_list<QWidget*>{m_diskPage->panel(), m_partitionPage->panel(),
                                                      m_fileSystemPage->panel(), m_results->panel(), m_searchPanel}) {
        m_panels->addWidget(p);
    }
    auto* right = new QVBoxLayout;
    right->addWidget(m_panels);
    m_list = new CColoredListCtrl(this);
    m_list->setObjectName(QStringLiteral("PropertyList"));
    m_list->setColumns({{QStringLiteral(" Disk Details"), 485}});
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    right->addWidget(m_list, 1);
    grid->addLayout(right, 1, 1, 2, 1);

    connect(m_diskPage, &DiskPage::diskSelected, this, &CChildDialogExDemoDlg::selectDiskSlot);
    connect(m_diskPage, &DiskPage::modeChosen, this, &CChildDialogExDemoDlg::chooseMode);
    connect(m_diskPage, &DiskPage::refreshClicked, this, &CChildDialogExDemoDlg::refreshList);
    connect(m_partitionPage, &PartitionPage::itemSelected, this, &CChildDialogExDemoDlg::selectPartition);
    connect(m_partitionPage, &PartitionPage::rangeChosen, this, &CChildDialogExDemoDlg::chooseRange);
    connect(m_partitionPage, &PartitionPage::searchMoreClicked, this, &CChildDialogExDemoDlg::searchMorePartitions);
    connect(m_partitionPage, &PartitionPage::stopClicked, this, &CChildDialogExDemoDlg::stopPartitionSearch);
    connect(m_fileSystemPage, &FileSystemPage::fileSystemSelected, this, &CChildDialogExDemoDlg::selectFileSystem);

    CResultTreeView* tree = m_results->tree();
    tree->onCheckClick = [this](const QModelIndex& i) { clickCheckBox(i); };
    tree->onItemClick = [this](const QModelIndex& i) { listFolder(i); };
    tree->onArrowKey = [this](const QModelIndex& i) { listFolder(i); };
    tree->onContextMenu = [this](const QPoint& at) {
        if (!m_wizard.canSave()) return;
        QMenu menu(this);
        QAction* saveAction = menu.addAction(QStringLiteral("Save"));
        menu.setDefaultAction(saveAction);
        if (menu.exec(at) == saveAction) save(false);
    };
    connect(tree, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        // The first time, a folder's sub-folders take the names of their directory entries.
        if (busy()) return;
        if (ExpandFolder(m_session.recovery(), *m_session.reader(), m_results->model()->item(index))) {
            m_results->model()->refresh();
        }
    });

    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (m_wizard.page() != Page::Results || m_list->selectedItems().isEmpty() || !m_wizard.canSave()) return;
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

    m_help = new CColorStatic(QString(), this);
    m_help->setObjectName(QStringLiteral("helpText"));
    m_help->setWordWrap(true);
    m_help->setMinimumHeight(48);
    grid->addWidget(m_help, 3, 0, 1, 2);

    auto* nav = new QHBoxLayout;
    m_stopSearch = new QPushButton(style()->standardIcon(QStyle::SP_BrowserStop),
                                   QStringLiteral("Stop Searching"), this);
    m_stopSearch->setObjectName(QStringLiteral("stopSearch"));
    m_stopSearch->setToolTip(QStringLiteral("Stop Search"));
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

void CChildDialogExDemoDlg::applyState() {
    const Controls c = m_wizard.controls();
    const Page page = m_wizard.page();
    QWidget* trees[] = {m_diskPage->tree(), m_partitionPage->tree(), m_fileSystemPage->tree(), m_results->tree()};
    QWidget* panels[] = {m_diskPage->panel(), m_partitionPage->panel(), m_fileSystemPage->panel(), m_results->panel()};
    const auto at = static_cast<std::size_t>(page);
    m_trees->setCurrentWidget(trees[at]);
    m_panels->setCurrentWidget(c.searchPanelShown ? static_cast<QWidget*>(m_searchPanel) : panels[at]);
    m_list->setVisible(!c.searchPanelShown);
    for (QWidget* t : {trees[0], trees[1], trees[2]}) t->setEnabled(c.treesEnabled);
    m_next->setVisible(c.nextVisible);
    m_next->setEnabled(c.nextEnabled);
    m_back->setEnabled(c.backEnabled);
    m_loadLogBtn->setEnabled(c.loadLogEnabled);
    m_saveLogBtn->setEnabled(c.saveLogEnabled);
    m_saveBtn->setEnabled(c.saveEnabled);
    m_openImageBtn->setEnabled(c.openImageEnabled);
    m_stopSearch->setVisible(c.stopSearchVisible);
    m_diskPage->setRefreshVisible(c.refreshVisible);
    m_diskPage->showMode(m_wizard.mode(), c.standardRadioEnabled, c.advanceRadioEnabled);
    m_partitionPage->applyControls(c, mode(), m_wizard.job() == Job::PartitionSearch);
    m_help->setText(HelpText(m_wizard.help()) + m_unreadableNote);
}

void CChildDialogExDemoDlg::setHelp(Help help) {
    m_wizard.setHelp(help);
    m_help->setText(HelpText(help) + m_unreadableNote);
}

void CChildDialogExDemoDlg::noteUnreadable() {
    const std::uint64_t bad = m_session.reader()->unreadableSectors() - m_unreadableAtStart;
    m_unreadableNote = bad > 0 ? QStringLiteral("\n") + q(UnreadableSectorsText(bad)) : QString();
}

void CChildDialogExDemoDlg::showProgress(const ObservedState& s) {
    switch (m_runner->job()) {
        case Job::Search:
        case Job::AdvanceSearch:
        case Job::EntryBuilding:
            m_searchPanel->show(s);
            break;
        case Job::PartitionSearch:
            ShowPhase(*m_partitionPage->partitionSearchBar(), s);
            break;
        case Job::LogLoading:
            ShowPhase(*m_results->treeLoadBar(), s);
            break;
        case Job::Saving:
            if (m_calculating != nullptr && m_calculating->isVisible()) m_calculating->setCount(s.counting);
            if (m_saving != nullptr && m_saving->isVisible()) {
                m_saving->setFile(q(s.fileName), q(s.filePath), s.fileNumber, s.fileTotal);
                m_saving->setFileProgress(s.fileDone, s.fileSize);
                m_saving->setStatus(QStringLiteral("Saving file %1 of %2").arg(s.fileNumber).arg(s.fileTotal));
            }
            break;
        case Job::Listing:
        case Job::None:
            break;
    }
    for (const std::string& m : s.messages) m_prompts->message(q(m), BoxIcon::Stop);
}

std::uint64_t CChildDialogExDemoDlg::diskSectors() const {
    if (auto* reader = const_cast<Session&>(m_session).reader()) return reader->totalSectors();
    const DiskInfo* d = m_selectedSlot ? m_session.disk(*m_selectedSlot) : nullptr;
    return d != nullptr ? d->TotalSectors : 0;
}

// ---- disk page ----

void CChildDialogExDemoDlg::fillDiskPage() {
    m_diskPage->fill(m_session.disks());
    m_selectedSlot.reset();
    m_wizard.disksListed();
    DiskPage::showDetails(*m_list, nullptr);
    if (m_session.disks().empty()) {
        // Shown once the window is up, so that the window answers meanwhile.
        QTimer::singleShot(0, this, &CChildDialogExDemoDlg::showNoMediaDialog);
    }
}

void CChildDialogExDemoDlg::showNoMediaDialog() {
    if (!m_session.disks().empty() || m_closing || m_wizard.page() != Page::Disk) return;
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
}

void CChildDialogExDemoDlg::refreshList() {
    if (m_wizard.page() != Page::Disk || busy()) return;
    m_session.RefreshDisks(m_roots);
    fillDiskPage();
    applyState();
}

bool CChildDialogExDemoDlg::addImage(const QString& path) {
    auto slot = m_session.AddImage(path.toStdString());
    if (!slot) {
        m_prompts->message(QStringLiteral("Unable to open the disk image %1: %2").arg(path, q(slot.error().message)),
                           BoxIcon::Stop);
        return false;
    }
    if (m_wizard.page() != Page::Disk) return true;
    fillDiskPage();
    m_diskPage->select(*slot);
    applyState();
    return true;
}

void CChildDialogExDemoDlg::openImage() {
    if (m_wizard.page() != Page::Disk || busy()) return;
    if (auto file = m_prompts->openImageFile()) addImage(*file);
}

void CChildDialogExDemoDlg::selectDiskSlot(std::size_t slot) {
    const DiskInfo* disk = m_session.disk(slot);
    if (m_wizard.page() != Page::Disk || busy() || disk == nullptr) return;
    m_selectedSlot = slot;
    m_wizard.selectDisk(IsFloppyDisk(*disk));
    DiskPage::showDetails(*m_list, disk);
    applyState();
}

void CChildDialogExDemoDlg::chooseMode(SearchMode mode) {
    if (m_wizard.chooseMode(mode)) applyState();
}

// ---- partition page ----

void CChildDialogExDemoDlg::next() {
    if (busy()) return;
    switch (m_wizard.page()) {
        case Page::Disk: {
            if (!m_wizard.canLeaveDiskPage() || !m_selectedSlot) return;
            auto selected = m_session.SelectDisk(*m_selectedSlot);
            if (!selected) {
                const Error& e = selected.error();
                QString text = q(e.message);
                const DiskInfo* chosen = m_session.disk(*m_selectedSlot);
                if (chosen != nullptr && e.message == PermissionRefusedMessage(chosen->DeviceID)) {
                    // The system (polkit) said no, or the password dialog was cancelled.
                    text = QStringLiteral("%1.\n\nPress Next to be asked again, or make an image of the disk with "
                                          "dd or ddrescue and open the image with 'Open Image...'.")
                               .arg(text);
                } else if (e.kind == ErrorKind::PermissionDenied) {
                    text = QStringLiteral("Quorlan may not read this disk: %1.\n\nRun Quorlan as root (for example "
                                          "with sudo), or make an image of the disk with dd or ddrescue and open the "
                                          "image with 'Open Image...'.")
                               .arg(text);
                }
                m_prompts->message(text, BoxIcon::Stop);
                return;
            }
            const bool autoSearch = m_session.lostPartitionSearchWanted();
            m_wizard.enterPartitionPage(autoSearch);
            const DiskPartitionList& list = m_session.partitions();
            m_partitionPage->fill(*m_selectedSlot, list);
            m_partitionPage->setMode(mode());
            m_partitionPage->chooseRange(false, diskSectors());
            m_partitionItem.reset();
            m_list->setColumns(NameValueColumns());
            // The first partition is selected when the table gave it; otherwise the edits show the
            // first one listed, or the whole disk.
            m_partitionPage->preset(list.partitions.empty() ? nullptr : &list.partitions.front(), diskSectors());
            if (const auto first = list.defaultSelection()) m_partitionPage->selectItem(static_cast<int>(*first));
            applyState();
            if (autoSearch) startPartitionSearch(true);
            return;
        }
        case Page::Partition:
            break;
        case Page::FileSystems: {
            const std::size_t number = m_fileSystemPage->selectedNumber();
            if (m_wizard.nextOnFileSystems(number)) {
                buildEntries(number);
            } else if (m_wizard.page() == Page::Results) {
                m_list->setColumns(FileListColumns(), true);
                applyState();
            }
            return;
        }
        case Page::Results:
            return;
    }

    PartitionInput in;
    in.mode = mode();
    in.diskSectors = diskSectors();
    const auto& parts = m_session.partitions().partitions;
    if (m_partitionItem && *m_partitionItem >= 0 && static_cast<std::size_t>(*m_partitionItem) < parts.size()) {
        const PartitionEntry& p = parts[static_cast<std::size_t>(*m_partitionItem)];
        in.partitionSelected = true;
        in.partitionType = p.type;
        in.partitionStart = p.start;
        in.partitionEnd = p.end;
    } else if (m_partitionItem == PartitionPage::kUnknownItem) {
        in.partitionSelected = true;
    }
    in.typeIndex = m_partitionPage->typeIndex();
    in.startText = m_partitionPage->startText();
    in.endText = m_partitionPage->endText();
    const PartitionVerdict verdict = CheckPartitionInput(in);
    switch (verdict.kind) {
        case PartitionVerdict::Kind::Search:
            if (verdict.endRewritten) m_partitionPage->setEndText(QString::number(verdict.end));
            if (in.mode == SearchMode::Standard) {
                startStandardSearch(static_cast<std::size_t>(*m_partitionItem));
            } else {
                startAdvanceSearch(verdict);
            }
            return;
        case PartitionVerdict::Kind::StandardGuidance:
            m_prompts->standardGuidance();
            break;
        case PartitionVerdict::Kind::SelectType:
        case PartitionVerdict::Kind::BadStart:
        case PartitionVerdict::Kind::BadEnd:
            m_prompts->message(QString::fromLatin1(verdict.message()), BoxIcon::Stop);
            break;
        case PartitionVerdict::Kind::NoPartition:
            break;
    }
    setHelp(verdict.help);
}

void CChildDialogExDemoDlg::selectPartition(int item) {
    if (m_wizard.page() != Page::Partition) return;
    const auto& parts = m_session.partitions().partitions;
    const std::size_t slot = m_selectedSlot.value_or(0);
    if (item == PartitionPage::kUnknownItem) {
        m_partitionItem = item;
        const DiskInfo* disk = m_session.disk(slot);
        fillDetails(*m_list, UnknownPartitionDetailsRows(mode(), slot, parts.size(), std::to_string(diskSectors()),
                                                         disk != nullptr ? CapacityText(*disk) : std::string()));
        m_partitionPage->preset(nullptr, diskSectors());
        return;
    }
    if (item < 0 || static_cast<std::size_t>(item) >= parts.size()) return;
    m_partitionItem = item;
    const PartitionEntry& p = parts[static_cast<std::size_t>(item)];
    fillDetails(*m_list, PartitionDetailsRows(mode(), slot, static_cast<std::size_t>(item), p));
    m_partitionPage->preset(&p, diskSectors());
}

void CChildDialogExDemoDlg::chooseRange(bool sectorRange) {
    if (m_wizard.page() != Page::Partition || busy()) return;
    m_partitionPage->chooseRange(sectorRange, diskSectors());
    applyState();
}

void CChildDialogExDemoDlg::searchMorePartitions() {
    if (m_wizard.page() != Page::Partition || busy()) return;
    startPartitionSearch(false);
}

void CChildDialogExDemoDlg::startPartitionSearch(bool automatic) {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    if (m_partitionPage->sectorRangeChosen()) {
        const auto s = ParseSectorText(m_partitionPage->rangeStartText());
        const auto e = ParseSectorText(m_partitionPage->rangeEndText());
        if (!s) {
            m_prompts->message(QStringLiteral("Start sector is not valid"), BoxIcon::Stop);
            return;
        }
        if (!e || *e <= *s) {
            m_prompts->message(QStringLiteral("Ending sector is not valid"), BoxIcon::Stop);
            return;
        }
        start = *s;
        end = *e;
    }
    const bool hadPartitions = !m_session.partitions().partitions.empty();
    m_partitionSearchStopped = false;
    m_wizard.partitionSearchStarted(automatic, hadPartitions);
    if (!hadPartitions) {
        m_partitionPage->addPlaceholder();
        m_partitionPage->tree()->collapseAll();
    }
    // The type list starts at "UNKNOWN" and the start sector at 0 until the search has found
    // something.
    m_partitionPage->setTypeIndex(kTypeUnknownIndex);
    m_partitionPage->setStartText(QStringLiteral("0"));
    m_partitionPage->partitionSearchBar()->SetRange(0, 100);
    m_partitionPage->partitionSearchBar()->SetPos(0);
    applyState();
    auto found = std::make_shared<Result<LostPartitionResult>>(Error{});
    m_runner->start(
        Job::PartitionSearch,
        [this, found, start, end](WorkerRunner::Context& c) {
            *found = m_session.FindLostPartitions(c.run(), start, end);
        },
        [this, found] { partitionSearchFinished(*found); });
}

void CChildDialogExDemoDlg::stopPartitionSearch() {
    if (m_runner->job() != Job::PartitionSearch) return;
    if (!m_prompts->question(QStringLiteral("Do you want to stop searching partition?"), true)) {
        // The search goes on; only the placeholder goes.
        m_partitionPage->removePlaceholder();
        return;
    }
    m_partitionSearchStopped = true;
    m_runner->requestStop();
}

void CChildDialogExDemoDlg::partitionSearchFinished(const Result<LostPartitionResult>& found) {
    m_wizard.partitionSearchEnded(m_partitionSearchStopped);
    if (!found) {
        m_prompts->message(q(found.error().message), BoxIcon::Stop);
    } else {
        (void)m_session.AddFoundPartitions(*found);
    }
    const DiskPartitionList& list = m_session.partitions();
    m_partitionPage->fill(m_selectedSlot.value_or(0), list);
    m_partitionItem.reset();
    if (list.partitions.empty()) {
        m_partitionPage->addUnknownPartition();
        m_partitionPage->selectItem(PartitionPage::kUnknownItem);
    } else {
        m_partitionPage->selectItem(0);
    }
    applyState();
}

void CChildDialogExDemoDlg::startStandardSearch(std::size_t partitionIndex) {
    m_searchPanel->setStatus(QStringLiteral("Validating Partition ..."));
    auto request = m_session.PrepareStandardSearch(partitionIndex);
    if (!request) {
        m_prompts->message(q(request.error().message), BoxIcon::Stop);
        return;
    }
    // NTFS whose boot sector and its copy are both gone: the search walks what it can find, and
    // the guidance says that Advance Search is the better way.
    if (request->type == FileSystemType::Ntfs && !request->ntfs) m_prompts->standardGuidance();
    m_searchType = request->type;
    m_wizard.searchStarted();
    m_results->detach();
    m_searchPanel->begin(m_selectedSlot.value_or(0), request->type, SearchMode::Standard, request->rangeStart,
                         request->rangeEnd);
    m_searchPanel->setStatus(QStringLiteral("Validating Partition ..."));
    m_list->clear();
    applyState();
    const SearchRequest req = *request;
    m_unreadableAtStart = m_session.reader()->unreadableSectors();
    m_unreadableNote.clear();
    auto result = std::make_shared<SearchResult>();
    m_runner->start(
        Job::Search,
        [this, req, result](WorkerRunner::Context& c) {
            *result = RunSearch(req, *m_session.reader(), m_session.recovery(), c.run());
        },
        [this, result] {
            m_wizard.standardSearchEnded(!result->nothingFound, result->outcome == SearchOutcome::Finished);
            noteUnreadable();
            showResults();
            if (m_session.reader() != nullptr && m_session.reader()->mediumGone()) {
                m_prompts->message(QString::fromUtf8(kMsgMediumGone), BoxIcon::Warning);
            } else if (result->nothingFound) {
                m_prompts->standardGuidance();
            }
        });
    // A stick pulled out during the search stops it; the results page then says so.
    m_session.reader()->stopWhenMediumGone(m_runner->stopSource());
}

void CChildDialogExDemoDlg::startAdvanceSearch(const PartitionVerdict& verdict) {
    auto request = m_session.PrepareAdvanceSearch(verdict.type, std::pair{verdict.start, verdict.end});
    if (!request) {
        m_prompts->message(q(request.error().message), BoxIcon::Stop);
        return;
    }
    m_searchType = verdict.type;
    m_wizard.searchStarted();
    m_results->detach();
    m_fileSystemPage->clear();
    m_searchPanel->begin(m_selectedSlot.value_or(0), verdict.type, SearchMode::Advance, request->rangeStart,
                         request->rangeEnd);
    m_list->clear();
    applyState();
    const AdvanceSearchRequest req = *request;
    m_unreadableAtStart = m_session.reader()->unreadableSectors();
    m_unreadableNote.clear();
    auto result = std::make_shared<AdvanceScanResult>();
    m_runner->start(
        Job::AdvanceSearch,
        [this, req, result](WorkerRunner::Context& c) {
            *result = RunAdvanceSearch(req, *m_session.reader(), m_session.recovery(), c.run());
        },
        [this] { advanceSearchFinished(); });
    m_session.reader()->stopWhenMediumGone(m_runner->stopSource());
}

void CChildDialogExDemoDlg::advanceSearchFinished() {
    std::vector<FileSystemRow> rows;
    for (const IdentifiedFileSystem& fs : IdentifiedFileSystems(m_session.recovery())) {
        rows.push_back({fs.number, FileSystemItemText(fs), fs.type, fs.start, fs.sectorsPerCluster});
    }
    m_wizard.advanceSearchEnded(rows.size(), m_searchType == FileSystemType::Ntfs);
    noteUnreadable();
    m_fileSystemPage->fill(rows);
    m_list->setColumns(NameValueColumns());
    if (!rows.empty()) FileSystemPage::showDetails(*m_list, rows.front());
    applyState();
    if (m_session.reader() != nullptr && m_session.reader()->mediumGone()) {
        m_prompts->message(QString::fromUtf8(kMsgMediumGone), BoxIcon::Warning);
    } else if (rows.empty()) {
        // Nothing identified: the guidance, and Back to choose another partition or range.
        m_prompts->advanceGuidance();
    }
}

void CChildDialogExDemoDlg::selectFileSystem(std::size_t number) {
    if (m_wizard.page() != Page::FileSystems || busy()) return;
    m_fileSystemPage->select(number);
    if (const FileSystemRow* row = m_fileSystemPage->selected()) FileSystemPage::showDetails(*m_list, *row);
}

void CChildDialogExDemoDlg::buildEntries(std::size_t number) {
    // The tree of a file system chosen before goes; the list of file systems stays, so that
    // Back offers it again without a new scan.
    m_results->detach();
    m_list->clear();
    applyState();
    auto built = std::make_shared<Result<SearchResult>>(Error{});
    m_runner->start(
        Job::EntryBuilding,
        [this, number, built](WorkerRunner::Context& c) {
            *built = RunEntryBuilding(number, *m_session.reader(), m_session.recovery(), c.run());
        },
        [this, built] {
            if (!*built) m_prompts->message(q(built->error().message), BoxIcon::Stop);
            m_wizard.entryBuildingEnded(*built && !(*built)->nothingFound);
            noteUnreadable();
            showResults();
        });
}

void CChildDialogExDemoDlg::stopSearch() {
    if (m_runner->job() == Job::Search || m_runner->job() == Job::AdvanceSearch) m_runner->requestStop();
}

// ---- results ----

void CChildDialogExDemoDlg::showResults() {
    m_results->attach(&m_session.recovery().model);
    m_list->setColumns(FileListColumns(), true);
    applyState();
}

void CChildDialogExDemoDlg::clickCheckBox(const QModelIndex& index) {
    if (!m_wizard.canStartResultsJob()) return;
    m_results->model()->clickCheckBox(index);
}

void CChildDialogExDemoDlg::listFolder(const QModelIndex& index, FolderListing listing) {
    TreeItem* t = m_results->model()->item(index);
    if (!m_wizard.canStartResultsJob() || t == nullptr) return;
    m_results->tree()->setCurrentIndex(index);
    if (m_populate == nullptr) m_populate = new CPopulate(this);
    m_populate->move(geometry().center() - m_populate->rect().center());
    m_populate->show();
    m_treeHasFocusFlag = true;
    QWidget* focused = QApplication::focusWidget();
    setEnabled(false);
    m_wizard.resultsJobStarted(Job::Listing);
    auto rows = std::make_shared<std::vector<ListedRow>>();
    m_runner->start(
        Job::Listing,
        [this, t, rows, listing](WorkerRunner::Context&) {
            *rows = ListFolder(m_session.recovery(), *m_session.reader(), t, listing);
        },
        [this, t, rows, focused = QPointer<QWidget>(focused)] {
            m_wizard.resultsJobEnded();
            m_populate->hide();
            setEnabled(true);
            if (focused) {
                activateWindow();
                focused->setFocus();  // disabling the window took the focus away
            }
            // Listing names sub-folders from their directory entries.
            m_results->model()->refresh();
            m_results->showListing(*m_list, t, std::move(*rows), m_session.recovery().params.isNtfs());
            applyState();
        });
}

void CChildDialogExDemoDlg::openItem() {
    if (!m_wizard.canStartResultsJob()) return;
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) return;
    const ListedRow* row = m_results->rowOf(selected.first());
    if (row == nullptr) return;
    if (row->isFolder) {
        // A folder row opens that folder in the tree.
        const QModelIndex index = m_results->model()->indexOf(m_session.recovery().model.tree.FindItem(row->itemId));
        if (!index.isValid()) return;
        for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) m_results->tree()->expand(p);
        m_results->tree()->scrollTo(index);
        listFolder(index, FolderListing::Open);
        return;
    }
    // A file is saved into a folder of its own and opened with the desktop's application for it.
    if (!m_openFolder || !m_openFolder->isValid()) m_openFolder = std::make_unique<QTemporaryDir>();
    const QString destination =
        QDir(m_openFolder->path()).filePath(QString::number(QDateTime::currentMSecsSinceEpoch()));
    const ListedRow file = *row;
    runSave([this, file](WorkerRunner::Context&) { return PlanOpenFile(m_session.recovery(), file); }, destination,
            true);
}

// ---- saving ----

void CChildDialogExDemoDlg::save(bool all) {
    if (!m_wizard.canSave()) return;
    if (m_lastDestination.isEmpty()) {
        m_lastDestination = QStandardPaths::writableLocation(QStandardPaths::HomeLocation) +
                            QStringLiteral("/Recovered");
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
    selection.listedFolder = m_results->currentFolder();
    selection.selectedRows = m_results->selectedRows(*m_list);
    runSave(
        [this, selection](WorkerRunner::Context& c) {
            return PlanSave(m_session.recovery(), *m_session.reader(), selection, c.observer, c.stop);
        },
        *destination, false);
}

void CChildDialogExDemoDlg::runSave(std::function<SavePlan(WorkerRunner::Context&)> plan, const QString& destination,
                                    bool open) {
    if (m_calculating == nullptr) {
        m_calculating = new CalculatingDialog(this);
        m_saving = new SavingDialog(this);
        connect(m_calculating->stopButton, &QPushButton::clicked, m_runner, &WorkerRunner::requestStop);
        connect(m_saving->stopButton, &QPushButton::clicked, m_runner, &WorkerRunner::requestStop);
        connect(m_saving->skipButton, &QPushButton::clicked, m_runner, &WorkerRunner::skipFile);
    }
    if (!open) {
        m_calculating->setCount(0);
        m_calculating->show();
    }
    m_wizard.resultsJobStarted(Job::Saving);
    applyState();
    auto summary = std::make_shared<std::optional<SaveSummary>>();
    auto opened = std::make_shared<std::string>();
    const std::string dest = destination.toStdString();
    m_unreadableAtStart = m_session.reader()->unreadableSectors();
    m_runner->start(
        Job::Saving,
        [this, plan = std::move(plan), dest, summary, open, opened](WorkerRunner::Context& c) {
            const SavePlan p = plan(c);
            if (p.stopped) return;
            if (!open) {
                QMetaObject::invokeMethod(this, [this] {
                    m_calculating->hide();
                    m_saving->show();
                }, Qt::QueuedConnection);
            }
            *summary = SaveItems(m_session.recovery(), *m_session.reader(), p, dest, c.observer, c.save);
            if (open && !p.items.empty()) *opened = p.items.front().name;
        },
        [this, summary, destination, open, opened] {
            m_wizard.resultsJobEnded();
            m_calculating->hide();
            m_saving->hide();
            // Listing during the save named sub-folders: the tree shows the names.
            m_results->model()->refresh();
            applyState();
            if (!*summary) return;  // counting was stopped: nothing was written
            const SaveSummary& s = **summary;
            if (open && s.filesWritten == 1) {
                // The file is the one entry of its folder, under its safe name.
                const QStringList written = QDir(destination).entryList(QDir::Files);
                if (!written.isEmpty()) {
                    m_prompts->openFile(QDir(destination).filePath(written.first()));
                    return;
                }
            }
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
            if (s.outcome == SaveOutcome::Stopped || s.outcome == SaveOutcome::Cancelled) {
                text += QStringLiteral("\nSaving was stopped.");
            }
            m_prompts->message(text, s.failed.empty() && s.outcome != SaveOutcome::Failed ? BoxIcon::Information
                                                                                           : BoxIcon::Warning);
        });
}

// ---- recovery log ----

void CChildDialogExDemoDlg::saveLog() {
    if (!m_wizard.canSaveLog()) return;
    writeLog();
}

void CChildDialogExDemoDlg::writeLog() {
    // No log is kept of a floppy; the engine says so before a file is chosen.
    if (auto allowed = RecoveryLogAllowed(m_session.recovery()); !allowed) {
        m_prompts->message(q(allowed.error().message), BoxIcon::Stop, QStringLiteral("Error"));
        return;
    }
    const auto file = m_prompts->saveLogFile();
    if (!file) return;
    auto written = WriteRecoveryLog(RecoveryLogPath(file->toStdString()), m_session.recovery(),
                                    m_session.selectedDiskModel());
    if (!written) m_prompts->message(q(written.error().message), BoxIcon::Stop);
}

void CChildDialogExDemoDlg::loadLog() {
    if (!m_wizard.canLoadLog()) return;
    m_next->setEnabled(false);
    m_back->setEnabled(false);
    m_loadLogBtn->setEnabled(false);
    const auto file = m_prompts->openLogFile();
    if (!file) {
        applyState();
        return;
    }
    m_wizard.logLoadStarted();
    m_results->detach();
    m_results->showTreeLoading(true);
    m_list->clear();
    applyState();
    auto ok = std::make_shared<Result<void>>();
    const std::string path = file->toStdString();
    const std::string model = m_session.selectedDiskModel();
    m_runner->start(
        Job::LogLoading,
        [this, ok, path, model](WorkerRunner::Context& c) {
            *ok = LoadRecoveryLog(path, model, m_session.recovery(), *m_session.reader(), c.observer);
        },
        [this, ok] {
            m_results->showTreeLoading(false);
            m_wizard.logLoadEnded(ok->ok());
            if (!*ok) {
                m_prompts->message(q(ok->error().message), BoxIcon::Stop);
                m_list->setColumns(NameValueColumns());
                applyState();
                return;
            }
            m_searchType = m_session.recovery().params.PartType;
            showResults();
        });
}

// ---- navigation and shut-down ----

void CChildDialogExDemoDlg::back() {
    const BackStep step = m_wizard.back();
    if (!step.moved) return;
    if (step.stopPartitionSearch) {
        m_runner->requestStop();
        m_runner->wait();
    }
    if (step.dropResults) {
        m_unreadableNote.clear();  // it spoke of the result that goes
        m_results->detach();
        m_session.recovery().model.Clear();
        m_session.tables().ClearSearchTables();
    }
    if (step.dropFileSystems) m_fileSystemPage->clear();
    switch (step.to) {
        case Page::Disk:
            m_session.BackToDiskPage();
            m_session.RefreshDisks(m_roots);
            fillDiskPage();
            break;
        case Page::Partition:
            m_list->setColumns(NameValueColumns());
            if (m_partitionItem) {
                selectPartition(*m_partitionItem);
            }
            break;
        case Page::FileSystems:
            if (const FileSystemRow* row = m_fileSystemPage->selected()) FileSystemPage::showDetails(*m_list, *row);
            break;
        case Page::Results:
            break;
    }
    applyState();
}

bool CChildDialogExDemoDlg::exitProgram() {
    if (m_wizard.asksToSaveAtExit() && m_prompts->question(QStringLiteral("Do you want to save the recovery?"))) {
        writeLog();
    }
    if (!m_prompts->question(QStringLiteral("Do you want to exit from Quorlan?"), true)) return false;
    m_closing = true;
    m_runner->shutDown();
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
    const bool results = m_wizard.page() == Page::Results;
    CResultTreeView* tree = m_results->tree();
    switch (key->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            // Editing a sector number takes Enter and Space; elsewhere neither closes the window
            // nor presses a button.
            return qobject_cast<QLineEdit*>(w) == nullptr || key->key() == Qt::Key_Escape;
        case Qt::Key_Tab:
            if (results) {
                if (m_treeHasFocusFlag) {
                    m_list->setFocus();
                } else {
                    tree->setFocus();
                }
                m_treeHasFocusFlag = !m_treeHasFocusFlag;
                return true;
            }
            return false;
        case Qt::Key_Right:
            // Right on a folder of the results opens it and lists it (deleted sub-folders show as
            // "Deleted FOLDER" in this listing).
            if (results && tree->hasFocus() && tree->currentIndex().isValid() && !busy()) {
                const QModelIndex current = tree->currentIndex();
                tree->expand(current);
                listFolder(current, FolderListing::Expand);
                return true;
            }
            return false;
        case Qt::Key_F6: {
            QWidget* target = m_wizard.page() == Page::Partition     ? static_cast<QWidget*>(m_partitionPage->tree())
                              : m_wizard.page() == Page::FileSystems ? m_fileSystemPage->tree()
                              : results                              ? static_cast<QWidget*>(tree)
                                                                     : m_diskPage->tree();
            target->setFocus();
            if (results) m_treeHasFocusFlag = true;
            return true;
        }
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

}  // namespace quorlan::ui
