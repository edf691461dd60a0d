#include <QApplication>
#include <QCloseEvent>
#include <QShowEvent>
#include <QWidget>
#include <clocale>

#include "app/WindowSettings.h"
#include "log/Log.h"
#include "platform/ExecutableFiles.h"
#include "settings/Settings.h"

namespace {

// Stands in for the main window until the real one arrives: it lives by the settings
// file the way the main window will.
class PlainMainWindow : public QWidget {
  public:
    PlainMainWindow() {
        settings.Read(platform::SettingsFilePath());
        PlaceWindow(*this, settings);
        ChooseLogFile(settings);
        setWindowTitle(QApplication::applicationName());
    }
    ~PlainMainWindow() override { CLog::DestroyInstance(); }

  protected:
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        CLog::Instance()->Log("Application started");
    }

    void closeEvent(QCloseEvent* event) override {
        StoreWindowBounds(*this, settings);
        // The path is worked out again: the folder may have become read-only meanwhile.
        settings.Write(platform::SettingsFilePath());
        event->accept();
    }

  private:
    Settings settings;
};

}  // namespace

int main(int argc, char* argv[]) {
    std::setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Reelvault");
    InstallScreenSizeProvider();
    PlainMainWindow window;
    window.show();
    return QApplication::exec();
}
