#pragma once

#include <QGridLayout>
#include <QLabel>
#include <QString>
#include <QWidget>

#include <string>
#include <vector>

#include "platform/Sensors.h"

namespace vigil {

class Defaults;
struct Theme;

// Every sensor of the machine under a "Sensors" heading, grouped by chip (the chip's stable name
// as the group's title), one line per sensor: its label and its reading in its unit, temperatures
// in the unit of the settings. The lines are made again only when the set of sensors changes.
class SensorsSection : public QWidget {
  public:
    SensorsSection(Defaults& defaults, QWidget* parent = nullptr);

    void show(const std::vector<platform::SensorChip>& chips);
    void apply(const Theme& theme);

    // The text of a sensor's reading: "45°", "1200 RPM", "1.03 V", "8.1 W"; "–" when unread.
    static QString readingText(const platform::Sensor& sensor, Defaults& defaults);
    // The label shown: the sensor's own, or for an unlabelled one its kind and number
    // ("Temperature 2" for temp2).
    static QString labelText(const platform::Sensor& sensor);

    // The value fields in the order shown (tests).
    std::vector<QLabel*> values;

  private:
    void rebuild(const std::vector<platform::SensorChip>& chips);

    Defaults& defaults_;
    QGridLayout* grid_;
    std::vector<std::string> shownIds_;
    const Theme* theme_ = nullptr;
};

}  // namespace vigil
