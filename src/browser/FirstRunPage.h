#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "cache/CacheDiscovery.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

// What the cache page shows in place of the list while no cache folder is set: a short
// text that says so, and a button for each browser cache found on this machine with its
// folder beside it. With none found, the text says where a folder is set by hand.
class FirstRunPage : public QWidget {
    Q_OBJECT
  public:
    explicit FirstRunPage(QWidget* parent = nullptr);

    void SetCaches(const std::vector<cache::FoundCache>& caches);

    // Fired with the folder of the cache whose button was clicked.
    std::function<void(const std::string& folder)> OnChoose;

    QLabel* lblNoCacheDir = nullptr;
    // One per cache, in the order given; named "btnFoundCache0", "btnFoundCache1", ...
    std::vector<QPushButton*> buttons;

  private:
    QWidget* list = nullptr;
    QVBoxLayout* listLayout = nullptr;
};
