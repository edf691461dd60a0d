#pragma once

#include <QLabel>
#include <string>

// Says, in the video's place, that the file playing has sound only: the player draws no
// picture then, and a dark window alone looks like a fault. The owner hides the video
// window meanwhile (nothing is drawn into it); the note keeps itself centred in its
// parent.
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
