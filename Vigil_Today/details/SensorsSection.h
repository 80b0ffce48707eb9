#pragma once

#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "details/AlertWatch.h"
#include "platform/Sensors.h"
#include "themes/Theme.h"

namespace vigil {

class AlertBanner;
class Defaults;

// Every sensor of the machine under a "Sensors" heading, grouped by chip (the chip's stable name
// as the group's title), one line per sensor: its label and its reading in its unit, temperatures
// in the unit of the settings. The lines are made again only when the set of sensors changes.
// While a temperature rule fires, its sensor's reading shows in the danger colour and the rule's
// text stands under the heading.
class SensorsSection : public QWidget {
  public:
    SensorsSection(Defaults& defaults, QWidget* parent = nullptr);

    void show(const std::vector<platform::SensorChip>& chips);
    // Follows the temperature alerts of `alerts` (the program's when null); the alert of the
    // sensor `saidElsewhere` (the processor's, said at the top of the view) gets no line here.
    void showAlerts(Alerts* alerts, const std::string& saidElsewhere);
    void apply(const Theme& theme);

    // The text of a sensor's reading: "45°", "1200 RPM", "1.03 V", "8.1 W"; "–" when unread.
    static QString readingText(const platform::Sensor& sensor, Defaults& defaults);
    // The label shown: the sensor's own, or for an unlabelled one its kind and number
    // ("Temperature 2" for temp2).
    static QString labelText(const platform::Sensor& sensor);

    // The value fields in the order shown (tests).
    std::vector<QLabel*> values;
    QPointer<AlertBanner> alertBanner;

  private:
    void rebuild(const std::vector<platform::SensorChip>& chips);
    void colorReadings();

    Defaults& defaults_;
    QGridLayout* grid_;
    std::vector<std::string> shownIds_;
    // A copy: the theme change's signal hands over a value that does not outlive it.
    std::optional<Theme> theme_;
    Alerts* alerts_ = nullptr;
    AlertWatch watch_;
    std::string saidElsewhere_;
    // The sensors whose temperature rule fires.
    std::set<std::string> firing_;
};

}  // namespace vigil
