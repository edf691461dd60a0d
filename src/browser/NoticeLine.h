#pragma once

#include <QLabel>

// One line of text that tells the user something about the list below it: shortened with
// an ellipsis to the width it gets (its whole text in the tooltip), so that a long path
// never widens the window. Hidden while it has nothing to say. The plain look serves a
// path shown beside something else.
class NoticeLine : public QLabel {
    Q_OBJECT
  public:
    enum class Look { Warning, Plain };
    explicit NoticeLine(const char* name, QWidget* parent = nullptr, Look look = Look::Warning);

    void SetNotice(const QString& text);
    const QString& Notice() const { return notice; }

    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Elide();
    QString notice;
};
