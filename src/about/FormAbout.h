#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>

class QFrame;
class QLabel;
class QPushButton;

// The about box: program title, the version stored in the executable, the build time and
// a link to the program's documentation.
class TfrmAbout : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    // Opens the documentation; replaceable so that tests can watch instead of launching.
    std::function<bool(const QUrl&)> OpenUrl;
    // The documentation lblInfo2 points at.
    QUrl documentationUrl;

    QFrame* Panel1 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblBuilt = nullptr;
    QLabel* lblBuildTimestamp = nullptr;
    QLabel* lblInfo1 = nullptr;
    QLabel* lblInfo2 = nullptr;
    QLabel* lblInfo3 = nullptr;
    QPushButton* OKButton = nullptr;

    // The compiler's date and time of this build, "Mmm dd yyyy, hh:mm:ss".
    static const char* BuildTimestamp();

  public slots:
    void lblInfo2Click();
};

// The program's one instance, created in main().
extern TfrmAbout* frmAbout;
