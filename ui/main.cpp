// quorlan: the desktop window over the recovery engine.
#include <QApplication>
#include <QPainter>
#include <QSplashScreen>
#include <QStyle>
#include <QTimer>
#include <iostream>
#include <string_view>

#include "ui/main_window.h"

namespace quorlan::ui {

// The application: a splash for two seconds, then the main window. Disk images named on the
// command line are offered as disks.
class CBrimwellApp : public QApplication {
public:
    CBrimwellApp(int& argc, char** argv) : QApplication(argc, argv) {
        setApplicationName(QStringLiteral("Quorlan"));
        setWindowIcon(style()->standardIcon(QStyle::SP_DriveHDIcon));
    }

    int run() {
        QPixmap picture(420, 220);
        picture.fill(kPanelColour);
        {
            QPainter p(&picture);
            QFont f = font();
            f.setPointSize(28);
            f.setBold(true);
            p.setFont(f);
            p.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("Quorlan"));
        }
        QSplashScreen splash(picture);
        splash.setWindowTitle(QStringLiteral("Quorlan"));
        const bool showSplash = qEnvironmentVariableIsEmpty("QUORLAN_NO_SPLASH");
        CChildDialogExDemoDlg window;
        for (const QString& image : arguments().mid(1)) window.addImage(image);
        if (showSplash) {
            splash.show();
            QTimer::singleShot(2000, &splash, [&] {
                splash.close();
                window.show();
            });
        } else {
            window.show();
        }
        return exec();
    }
};

}  // namespace quorlan::ui

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a display (help2man runs them).
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version") {
            std::cout << "quorlan " << QUORLAN_VERSION << "\n";
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::cout << "usage: quorlan [IMAGE...]\n"
                         "Opens the recovery window; the disk images named are offered as disks.\n"
                         "\n"
                         "options:\n"
                         "  -h, --help     print this text\n"
                         "  --version      print the version\n";
            return 0;
        }
    }
    quorlan::ui::CBrimwellApp app(argc, argv);
    return app.run();
}
