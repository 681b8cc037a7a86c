// The small modal dialogs: About, the Standard and Advance Search guidance, no media, "Save As", "Saving...",
// "Replace File Confirmation", "Calculating Number of Files..." and the listing notice.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "items/save_files.h"
#include "ui/text_progress.h"

namespace quorlan::ui {

inline constexpr const char* kSupportAddress = "support@quorlan.example";
inline constexpr const char* kWebAddress = "https://quorlan.example/";

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

class CMsgStand : public QDialog {
    Q_OBJECT
public:
    explicit CMsgStand(QWidget* parent = nullptr);
};

// No file system could be identified by an Advance Search.
class CAdvanceDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAdvanceDlg(QWidget* parent = nullptr);
};

// No removable disk found: Retry, Open Image..., Exit.
class CInfo : public QDialog {
    Q_OBJECT
public:
    explicit CInfo(QWidget* parent = nullptr);
    enum Choice { Retry = 1, OpenImage = 2, Exit = 3 };
};

// "Populating List Items, Please Wait...." while the file list is filled.
class CPopulate : public QDialog {
    Q_OBJECT
public:
    explicit CPopulate(QWidget* parent = nullptr);
};

class SaveAsDialog : public QDialog {
    Q_OBJECT
public:
    SaveAsDialog(const QString& proposed, QWidget* parent = nullptr);
    [[nodiscard]] QString destination() const { return m_edit->text(); }

private:
    QLineEdit* m_edit;
};

class ReplaceFileDialog : public QDialog {
    Q_OBJECT
public:
    ReplaceFileDialog(const QString& existing, const QString& proposed, QWidget* parent = nullptr);
    [[nodiscard]] CollisionDecision decision() const { return m_decision; }

private:
    CollisionDecision m_decision;
};

// "Calculating Number of Files...": the running count and "Stop ".
class CalculatingDialog : public QDialog {
    Q_OBJECT
public:
    explicit CalculatingDialog(QWidget* parent = nullptr);
    void setCount(std::uint64_t count);
    QPushButton* stopButton;

private:
    QLabel* m_count;
};

// "Saving...": the file and folder being written, the current file's and the overall progress,
// Stop and Skip.
class SavingDialog : public QDialog {
    Q_OBJECT
public:
    explicit SavingDialog(QWidget* parent = nullptr);
    void setFile(const QString& name, const QString& folder, std::uint64_t number, std::uint64_t total);
    void setFileProgress(std::uint64_t done, std::uint64_t total);
    void setStatus(const QString& text) { m_status->setText(text); }
    QPushButton* stopButton;
    QPushButton* skipButton;

private:
    QLabel* m_name;
    QLabel* m_path;
    QLabel* m_fileValue;
    QLabel* m_totalValue;
    QLabel* m_status;
    CTextProgressCtrl* m_fileBar;
    CTextProgressCtrl* m_totalBar;
};

}  // namespace quorlan::ui
