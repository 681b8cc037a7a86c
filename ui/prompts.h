// Everything the window asks the user or tells them in a modal box. The window calls these and
// never opens a modal box itself, so that tests can answer in its place.
#pragma once

#include <QString>
#include <optional>

#include "items/save_files.h"

class QWidget;

namespace quorlan::ui {

enum class BoxIcon { Stop, Question, Information, Warning };

class Prompts {
public:
    virtual ~Prompts() = default;
    // A message box with the caption "Quorlan" (or the one given) and OK.
    virtual void message(const QString& text, BoxIcon icon, const QString& caption = QStringLiteral("Quorlan")) = 0;
    // A Yes/No question; defaultNo makes No the default button.
    virtual bool question(const QString& text, bool defaultNo = false) = 0;
    // The guidance dialog for a partition that Standard Search cannot recover.
    virtual void standardGuidance() = 0;
    // The guidance dialog after an Advance Search that identified no file system.
    virtual void advanceGuidance() = 0;
    virtual void about() = 0;
    // No removable disk was found: Retry (true), or an image chosen (imagePath set), or Exit.
    enum class NoMedia { Retry, OpenImage, Exit };
    virtual NoMedia noMedia(QString& imagePath) = 0;
    // File dialogs of the recovery log ("QLG Files (*.QLG)") and of disk images.
    virtual std::optional<QString> saveLogFile() = 0;
    virtual std::optional<QString> openLogFile() = 0;
    virtual std::optional<QString> openImageFile() = 0;
    // "Save As": the destination folder, or empty on Cancel.
    virtual std::optional<QString> saveDestination(const QString& proposed) = 0;
    // "Replace File Confirmation".
    virtual CollisionDecision replaceFile(const QString& existing, const QString& proposed) = 0;
    // The help file beside the program, with the desktop's handler.
    virtual void openHelp() = 0;
    // A recovered file (saved to a folder of its own) with the desktop's application for it.
    virtual void openFile(const QString& path) = 0;
};

// The real dialogs.
class QtPrompts : public Prompts {
public:
    explicit QtPrompts(QWidget* parent) : m_parent(parent) {}
    void message(const QString& text, BoxIcon icon, const QString& caption) override;
    bool question(const QString& text, bool defaultNo) override;
    void standardGuidance() override;
    void advanceGuidance() override;
    void about() override;
    NoMedia noMedia(QString& imagePath) override;
    std::optional<QString> saveLogFile() override;
    std::optional<QString> openLogFile() override;
    std::optional<QString> openImageFile() override;
    std::optional<QString> saveDestination(const QString& proposed) override;
    CollisionDecision replaceFile(const QString& existing, const QString& proposed) override;
    void openHelp() override;
    void openFile(const QString& path) override;

private:
    QWidget* m_parent;
};

}  // namespace quorlan::ui
