#include "ui/dialogs.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/prompts.h"

namespace quorlan::ui {

namespace {

QFont boldFont() {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(16);
    f.setBold(true);
    return f;
}

void panelBackground(QWidget* w) {
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, kPanelColour);
    w->setPalette(pal);
}

// A blue link that opens an address with the desktop's handler; the hand cursor over it.
QLabel* link(const QString& text, const QString& address, QWidget* parent) {
    auto* l = new QLabel(QStringLiteral("<a href=\"%1\" style=\"color:blue\">%2</a>")
                             .arg(address.toHtmlEscaped(), text.toHtmlEscaped()),
                         parent);
    l->setCursor(Qt::PointingHandCursor);
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    QObject::connect(l, &QLabel::linkActivated, [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });
    return l;
}

QString supportMail() {
    return QStringLiteral(
               "mailto:%1?subject=Quorlan%%20support&body=Operating%%20system:%%0ASecurity%%"
               "20software:%%0A"
               "Hardware%%20configuration:%%0AStorage%%20media%%20type,%%20capacity%%20and%%"
               "20manufacturer:%%0A"
               "Possible%%20cause%%20of%%20the%%20data%%20loss:%%0AError%%20message:%%0AFurther%%"
               "20details:")
        .arg(QString::fromLatin1(kSupportAddress));
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Quorlan"));
    setObjectName(QStringLiteral("aboutDialog"));
    panelBackground(this);
    auto* layout = new QGridLayout(this);
    auto* picture = new QLabel(this);
    picture->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(48, 48));
    layout->addWidget(picture, 0, 0, 3, 1, Qt::AlignTop);
    auto* name = new QLabel(QStringLiteral("Quorlan 4.0.1.6"), this);
    name->setFont(boldFont());
    layout->addWidget(name, 0, 1);
    auto* mail = new QHBoxLayout;
    mail->addWidget(new QLabel(QStringLiteral("Email :"), this));
    mail->addWidget(link(QString::fromLatin1(kSupportAddress), supportMail(), this));
    mail->addStretch();
    layout->addLayout(mail, 1, 1);
    layout->addWidget(link(QString::fromLatin1(kWebAddress), QString::fromLatin1(kWebAddress), this), 2, 1);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 3, 1, Qt::AlignRight);
}

namespace {

// The look the guidance dialogs share: a bold heading, "Important:" in bold, numbered notes, the
// line offering technical help with its link, and OK.
void guidanceLayout(QDialog* dlg, const QString& heading, const QStringList& notes) {
    dlg->setWindowTitle(QStringLiteral("Quorlan"));
    panelBackground(dlg);
    auto* layout = new QVBoxLayout(dlg);
    auto* title = new QLabel(heading, dlg);
    title->setFont(boldFont());
    title->setWordWrap(true);
    layout->addWidget(title);
    auto* important = new QLabel(QStringLiteral("Important:"), dlg);
    important->setFont(boldFont());
    layout->addWidget(important);
    for (const QString& note : notes) {
        auto* l = new QLabel(note, dlg);
        l->setWordWrap(true);
        layout->addWidget(l);
    }
    auto* help = new QHBoxLayout;
    help->addWidget(new QLabel(QStringLiteral("For further technical assistance in recovering your data,"), dlg));
    help->addWidget(link(QStringLiteral("click here to contact us..."), supportMail(), dlg));
    help->addStretch();
    layout->addLayout(help);
    auto* ok = new QPushButton(QStringLiteral("OK"), dlg);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, dlg, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignRight);
}

}  // namespace

CMsgStand::CMsgStand(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("msgStand"));
    guidanceLayout(
        this,
        QStringLiteral("Recovery is not possible in Standard Search mode, use Advance Search to "
                       "recover your data."),
        {QStringLiteral("1. Both the recovery modes (i.e. Standard Search and Advance Search) "
                        "recover data using "
                        "different"),
         QStringLiteral(
             " Data Recovery Techniques in different cases of data loss. In most of the data loss "
             "cases, at least "),
         QStringLiteral(
             "one recovery mode may work for you, even if another fails to recover data."),
         QStringLiteral("2. It is strongly recommended that you should allow every process to be "
                        "completed 100%.")});
}

CAdvanceDlg::CAdvanceDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("advanceDlg"));
    guidanceLayout(
        this, QStringLiteral("No file system could be identified. Recovery is not possible in Advance Search mode."),
        {QStringLiteral("1. Both the recovery modes (i.e. Standard Search and Advance Search) recover data using "
                        "different Data Recovery Techniques in different cases of data loss. In Most of the data loss "
                        "cases, at least one recovery mode may work for you, even if another fails to recover data."),
         QStringLiteral("2. It is strongly recommended that you should allow every process to be completed 100%."),
         QStringLiteral("3. When the operating system says that the disk needs to be formatted, or that it is not "
                        "formatted, the records that describe its file system may be damaged beyond what a search "
                        "can repair.\n\nIn such cases a quick format by the operating system has often written "
                        "those records anew, after which Quorlan could recover the data.\n\nThis is not a "
                        "recommended procedure: try it only as a last resort, after both recovery modes have run to "
                        "100%, and never a full format.")});
}

CInfo::CInfo(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Quorlan"));
    setObjectName(QStringLiteral("noMedia"));
    panelBackground(this);
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(
        QStringLiteral("Could not find any Pen Drive or other USB Removable Media connected to your system."), this);
    heading->setFont(boldFont());
    heading->setWordWrap(true);
    layout->addWidget(heading);
    for (const char* line :
         {"Please use any of the following method to recover Data from your USB Storage Media :",
          "1. Unplug your storage media and plug it again. Once you have connected your media, "
          "click retry button to "
          "continue.",
          "2. OR, if you are using USB HUB to connect multiple USB Devices to your PC, Please "
          "remove USB HUB from your PC "
          " and try   connecting your storage media directly to the usb port of your computer.",
          "3. OR, if your current system configuration is still not enabling you to go ahead with "
          "Data recovery, Please "
          "try recovering data on different machine (having different OS, if possible)."}) {
        auto* l = new QLabel(QString::fromLatin1(line), this);
        l->setWordWrap(true);
        layout->addWidget(l);
    }
    auto* important = new QLabel(QStringLiteral("Important:"), this);
    important->setFont(boldFont());
    layout->addWidget(important);
    auto* note = new QLabel(QStringLiteral("Hard disk drives are not removable storage media, also when they are "
                                           "connected by USB: Quorlan does not list them. Recover a hard disk drive "
                                           "with software made for hard disks, or open an image of it made with dd "
                                           "or ddrescue."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* help = new QHBoxLayout;
    help->addWidget(new QLabel(QStringLiteral("For technical help,"), this));
    help->addWidget(link(QStringLiteral("click here to contact us..."), supportMail(), this));
    help->addWidget(new QLabel(QStringLiteral("or visit"), this));
    help->addWidget(link(QString::fromLatin1(kWebAddress), QString::fromLatin1(kWebAddress), this));
    help->addStretch();
    layout->addLayout(help);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (const auto& [label, choice] : {std::pair{"Retry", Retry}, {"Open Image...", OpenImage}, {"Exit", Exit}}) {
        auto* b = new QPushButton(QString::fromLatin1(label), this);
        connect(b, &QPushButton::clicked, this, [this, c = choice] { done(c); });
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);
}

CPopulate::CPopulate(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("populate"));
    setModal(false);
    setAttribute(Qt::WA_ShowWithoutActivating);  // the window keeps the keyboard
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new CColorStatic(QStringLiteral("Populating List Items, Please Wait...."), this));
}

SaveAsDialog::SaveAsDialog(const QString& proposed, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Save As"));
    setObjectName(QStringLiteral("saveAs"));
    auto* layout = new QGridLayout(this);
    auto* prompt = new QLabel(QStringLiteral("Choose the folder to save the recovered files and folders in.\n"
                                             "Choose a folder on another disk than the one being recovered."),
                              this);
    layout->addWidget(prompt, 0, 0, 1, 2);
    m_edit = new QLineEdit(proposed, this);
    layout->addWidget(m_edit, 1, 0);
    auto* browse = new QPushButton(QStringLiteral("Browse"), this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Save As"), m_edit->text());
        if (!dir.isEmpty()) m_edit->setText(dir);
    });
    layout->addWidget(browse, 1, 1);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons, 2, 0, 1, 2);
}

ReplaceFileDialog::ReplaceFileDialog(const QString& existing, const QString& proposed, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Replace File Confirmation"));
    setObjectName(QStringLiteral("replaceFile"));
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("File Name            :"), this), 0, 0);
    auto* name = new QLineEdit(existing, this);
    name->setReadOnly(true);
    layout->addWidget(name, 0, 1);
    layout->addWidget(new QLabel(QStringLiteral("New File Name    :"), this), 1, 0);
    auto* newName = new QLineEdit(proposed, this);
    layout->addWidget(newName, 1, 1);
    auto* all = new QCheckBox(QStringLiteral("Apply the answer to all the files"), this);
    layout->addWidget(all, 2, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    for (const auto& [label, answer] : {std::pair{"Overwrite", CollisionAnswer::Overwrite},
                                        {"Rename", CollisionAnswer::Rename},
                                        {"Skip", CollisionAnswer::Skip},
                                        {"Cancel", CollisionAnswer::Cancel}}) {
        auto* b = new QPushButton(QString::fromLatin1(label), this);
        connect(b, &QPushButton::clicked, this, [this, newName, all, a = answer] {
            m_decision = {a, newName->text().toStdString(), all->isChecked()};
            accept();
        });
        buttons->addWidget(b);
    }
    layout->addLayout(buttons, 3, 0, 1, 2);
    m_decision = {CollisionAnswer::Cancel, {}, false};
}

CalculatingDialog::CalculatingDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Calculating Number of Files..."));
    setObjectName(QStringLiteral("calculating"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Calculating Total Number of Files, Please Wait ..."), this));
    m_count = new QLabel(QStringLiteral("0"), this);
    layout->addWidget(m_count);
    stopButton = new QPushButton(QStringLiteral("Stop "), this);
    stopButton->setDefault(true);
    layout->addWidget(stopButton, 0, Qt::AlignRight);
}

void CalculatingDialog::setCount(std::uint64_t count) { m_count->setText(QString::number(count)); }

SavingDialog::SavingDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Saving..."));
    setObjectName(QStringLiteral("saving"));
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("File Name :"), this), 0, 0);
    m_name = new QLabel(this);
    layout->addWidget(m_name, 0, 1, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral("File Path :"), this), 1, 0);
    m_path = new QLabel(this);
    m_path->setWordWrap(true);
    layout->addWidget(m_path, 1, 1, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral(" Recovered Current File "), this), 2, 0);
    m_fileBar = new CTextProgressCtrl(this);
    layout->addWidget(m_fileBar, 2, 1);
    m_fileValue = new QLabel(this);
    layout->addWidget(m_fileValue, 2, 2);
    layout->addWidget(new QLabel(QStringLiteral("Total Files Recovered "), this), 3, 0);
    m_totalBar = new CTextProgressCtrl(this);
    layout->addWidget(m_totalBar, 3, 1);
    m_totalValue = new QLabel(this);
    layout->addWidget(m_totalValue, 3, 2);
    m_status = new QLabel(this);
    layout->addWidget(m_status, 4, 0, 1, 3);
    stopButton = new QPushButton(QStringLiteral("Stop"), this);
    skipButton = new QPushButton(QStringLiteral("Skip"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(stopButton);
    buttons->addWidget(skipButton);
    layout->addLayout(buttons, 5, 0, 1, 3);
    resize(560, 240);
}

void SavingDialog::setFile(const QString& name, const QString& folder, std::uint64_t number, std::uint64_t total) {
    m_name->setText(name);
    m_path->setText(folder);
    m_totalBar->SetRange(0, 100);
    m_totalBar->SetPos(total == 0 ? 0 : static_cast<int>(number * 100 / total));
    m_totalValue->setText(QStringLiteral("%1 / %2").arg(number).arg(total));
}

void SavingDialog::setFileProgress(std::uint64_t done, std::uint64_t total) {
    m_fileBar->SetRange(0, 100);
    m_fileBar->SetPos(total == 0 ? 100 : static_cast<int>(done * 100 / total));
    m_fileValue->setText(QStringLiteral("%1 KB").arg(done / 1024));
}

// ---- the real prompts ----

void QtPrompts::message(const QString& text, BoxIcon icon, const QString& caption) {
    QMessageBox box(icon == BoxIcon::Stop          ? QMessageBox::Critical
                    : icon == BoxIcon::Question    ? QMessageBox::Question
                    : icon == BoxIcon::Warning     ? QMessageBox::Warning
                                                   : QMessageBox::Information,
                    caption, text, QMessageBox::Ok, m_parent);
    box.exec();
}

bool QtPrompts::question(const QString& text, bool defaultNo) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quorlan"), text,
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void QtPrompts::standardGuidance() {
    CMsgStand dlg(m_parent);
    dlg.exec();
}

void QtPrompts::advanceGuidance() {
    CAdvanceDlg dlg(m_parent);
    dlg.exec();
}

void QtPrompts::about() {
    CAboutDlg dlg(m_parent);
    dlg.exec();
}

Prompts::NoMedia QtPrompts::noMedia(QString& imagePath) {
    for (;;) {
        CInfo dlg(m_parent);
        const int choice = dlg.exec();
        if (choice == CInfo::Retry) return NoMedia::Retry;
        if (choice == CInfo::OpenImage) {
            if (auto file = openImageFile()) {
                imagePath = *file;
                return NoMedia::OpenImage;
            }
            continue;
        }
        return NoMedia::Exit;
    }
}

std::optional<QString> QtPrompts::saveLogFile() {
    QFileDialog dlg(m_parent, QStringLiteral("Save Log"), QDir::homePath(), QStringLiteral("QLG Files (*.QLG)"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(QStringLiteral("QLG"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    return dlg.selectedFiles().first();
}

std::optional<QString> QtPrompts::openLogFile() {
    const QString file = QFileDialog::getOpenFileName(m_parent, QStringLiteral("Load Log"), QDir::homePath(),
                                                      QStringLiteral("QLG Files (*.QLG)"));
    if (file.isEmpty()) return std::nullopt;
    return file;
}

std::optional<QString> QtPrompts::openImageFile() {
    const QString file = QFileDialog::getOpenFileName(
        m_parent, QStringLiteral("Open Image"), QDir::homePath(),
        QStringLiteral("Disk images (*.img *.dd *.raw *.bin *.ima);;All files (*)"));
    if (file.isEmpty()) return std::nullopt;
    return file;
}

std::optional<QString> QtPrompts::saveDestination(const QString& proposed) {
    SaveAsDialog dlg(proposed, m_parent);
    if (dlg.exec() != QDialog::Accepted || dlg.destination().isEmpty()) return std::nullopt;
    return dlg.destination();
}

CollisionDecision QtPrompts::replaceFile(const QString& existing, const QString& proposed) {
    ReplaceFileDialog dlg(existing, proposed, m_parent);
    dlg.exec();
    return dlg.decision();
}

void QtPrompts::openFile(const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

void QtPrompts::openHelp() {
    // Beside the program in a build folder; in share/doc/quorlan when installed.
    const QDir programDir(QCoreApplication::applicationDirPath());
    QString guide = programDir.filePath(QStringLiteral("Software Guide.html"));
    if (!QFileInfo::exists(guide)) guide = programDir.filePath(QStringLiteral("../share/doc/quorlan/Software Guide.html"));
    QDesktopServices::openUrl(QUrl::fromLocalFile(QDir::cleanPath(guide)));
}

}  // namespace quorlan::ui
