#pragma once

#include <QLabel>
#include <string>

// Says, over the video area, that the file playing has sound only: the player draws no
// picture then, and a dark window alone looks like a fault. A native window of its own,
// so that it stays above the native video window; it keeps itself centred in its parent.
class AudioOnlyNote : public QLabel {
    Q_OBJECT
  public:
    explicit AudioOnlyNote(QWidget* parent);

    // Shows the note for the file at `path` (its name is what the user sees).
    void ShowFor(const std::string& path);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Centre();
};
