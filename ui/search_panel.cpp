#include "ui/search_panel.h"

#include <QGridLayout>

#include "ui/controls.h"

namespace quorlan::ui {

namespace {
QGridLayout* grid(QWidget* w) { return static_cast<QGridLayout*>(w->layout()); }
// The labels line their values up with tabs; a label widget shows them as blanks.
QString shown(const QString& label) { return QString(label).replace(QLatin1Char('\t'), QLatin1Char(' ')); }
}  // namespace

SearchPanel::SearchPanel(QWidget* parent) : QGroupBox(parent) {
    setObjectName(QStringLiteral("searchPanel"));
    new QGridLayout(this);
    m_disk = value(QStringLiteral("Searching in Physical Drive\t:"), 0);
    m_fileSystem = value(QStringLiteral("Selected File System\t\t:"), 1);
    m_found = value(QStringLiteral("Folders Found\t\t\t:"), 2);
    m_foundLabel = qobject_cast<QLabel*>(grid(this)->itemAtPosition(2, 0)->widget());
    m_bootSectors = value(QStringLiteral("Boot Sectors Found\t\t:"), 3);
    m_criteria = value(QStringLiteral("Searching Criteria\t\t:"), 4);
    m_range = value(QStringLiteral("Searching from sectors"), 5);
    m_bar = new CTextProgressCtrl(this);
    m_bar->setObjectName(QStringLiteral("searchProgress"));
    grid(this)->addWidget(m_bar, 6, 0, 1, 2);
    m_status = new CColorStatic(QString(), this);
    m_status->setObjectName(QStringLiteral("searchStatus"));
    grid(this)->addWidget(m_status, 7, 0, 1, 2);
}

QLabel* SearchPanel::value(const QString& label, int row) {
    auto* l = new CColorStatic(shown(label), this);
    grid(this)->addWidget(l, row, 0);
    auto* v = new CColorStatic(QString(), this);
    v->setObjectName(label.section(QLatin1Char('\t'), 0, 0));
    grid(this)->addWidget(v, row, 1);
    return v;
}

void SearchPanel::begin(std::size_t diskNumber, FileSystemType type, SearchMode mode, std::uint64_t start,
                        std::uint64_t end) {
    const bool ntfs = type == FileSystemType::Ntfs;
    // A FAT search counts the directory clusters it finds, an NTFS search the file records.
    m_counter = ntfs ? Counter::RecordsFound : Counter::FoldersFound;
    m_foundLabel->setText(shown(ntfs ? QStringLiteral("MFT Found\t\t\t:") : QStringLiteral("Directories Found\t\t:")));
    m_disk->setText(QString::number(diskNumber));
    m_fileSystem->setText(QString::fromUtf8(
        FileSystemTypeText(type).data(), static_cast<qsizetype>(FileSystemTypeText(type).size())));
    m_found->setText(QStringLiteral("0"));
    m_bootSectors->setText(QStringLiteral("0"));
    const auto modeText = SearchModeText(mode);
    m_criteria->setText(QString::fromUtf8(modeText.data(), static_cast<qsizetype>(modeText.size())));
    m_range->setText(QStringLiteral("%1 to %2").arg(start).arg(end));
    m_bar->SetRange(0, 100);
    m_bar->SetPos(0);
    m_bar->SetCaption(QString());
    m_bar->SetShowText(true);
    m_status->clear();
}

void SearchPanel::show(const ObservedState& s) {
    ShowPhase(*m_bar, s);
    m_status->setText(QString::fromStdString(s.status));
    if (const auto it = s.counters.find(m_counter); it != s.counters.end())
        m_found->setText(QString::number(it->second));
    if (const auto it = s.counters.find(Counter::BootSectorsFound); it != s.counters.end()) {
        m_bootSectors->setText(QString::number(it->second));
    }
}

void ShowPhase(CTextProgressCtrl& bar, const ObservedState& s) {
    const int percent = s.total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(100, s.done * 100 / s.total));
    bar.SetRange(0, 100);
    bar.SetPos(percent);
    if (s.label.empty()) {
        bar.SetShowText(true);
        return;
    }
    // A label that counts ("%d / E") is shown as it is; "Completed " is followed by the share.
    QString caption = QString::fromStdString(ExpandPhaseLabel(s.label, s.done));
    if (s.label.find("%d") == std::string::npos) caption += QStringLiteral("%1%").arg(percent);
    bar.SetCaption(caption);
    bar.SetShowText(false);
}

}  // namespace quorlan::ui
