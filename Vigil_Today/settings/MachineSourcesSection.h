#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <functional>
#include <vector>

#include "collectors/MachineSource.h"

namespace vigil {

class Defaults;
struct Theme;

// The settings view's part for other machines: whether the Machines row shows, and the sources
// (node exporter or Prometheus URLs, credentials as user:password@ in the URL or a bearer token).
// Every change is stored at once and handed to onSourcesChanged.
class MachineSourcesSection : public QWidget {
  public:
    MachineSourcesSection(Defaults& defaults, QWidget* parent = nullptr);

    // Reads the settings again (when the settings view appears).
    void reload();
    void applyTheme(const Theme& theme);
    void addSource();
    void removeSource();

    // Heard with the new sources after an add or a removal; the program restarts its polling.
    std::function<void(std::vector<MachineSourceConfig>)> onSourcesChanged;

    QPointer<QCheckBox> showRow;
    QPointer<QListWidget> sources;
    QPointer<QLineEdit> url;
    QPointer<QLineEdit> token;
    QPointer<QPushButton> add;
    QPointer<QPushButton> remove;

  private:
    void store(const std::vector<MachineSourceConfig>& configs);

    Defaults& defaults_;
};

}  // namespace vigil
