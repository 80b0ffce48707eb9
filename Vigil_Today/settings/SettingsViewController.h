#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <functional>

#include "host/ViewController.h"

namespace vigil {

class AlertRulesSection;
class Alerts;
class MachineSourcesSection;

class Defaults;
class FUILink;
class History;
class System;
class ThemeManager;
struct Theme;

// Two or more exclusive segments side by side; each segment's tag is its index.
class SegmentedControl : public QWidget {
  public:
    SegmentedControl(const QStringList& labels, QWidget* parent = nullptr);

    int segmentCount() const;
    // The selected segment, -1 when none is.
    int selectedSegment() const;
    // Selects the segment whose tag is `tag`; no segment for a tag that names none. Fires nothing.
    void selectSegment(int tag);
    QPushButton* segment(int index) const;
    void setColors(const QColor& selected, const QColor& text);

    // Heard when the user picks a segment.
    std::function<void()> onChange;

  private:
    void restyle();

    QButtonGroup* group_;
    QColor selected_{52, 73, 94};
    QColor text_{0, 0, 0};
};

// Shown instead of the rows while the widget is edited: which summary rows to show, the
// temperature unit, the processor's sensor, the theme, whether history is kept (and clearing it),
// the alert rules, the other machines and a link to the product's page. Every choice is stored at
// once.
class SettingsViewController : public ViewController {
  public:
    // The product's web page.
    static constexpr const char* kProductPage = "https://github.com/vigil-monitor/vigil";

    SettingsViewController(ThemeManager& themes, Defaults& defaults, System& system,
                           QObject* parent = nullptr);
    // The shared themes, settings and system.
    explicit SettingsViewController(QObject* parent = nullptr);

    static QString nibName() { return QStringLiteral("SettingsViewController"); }

    // One item per row choice, its tag (item data) the raw value.
    QPointer<QComboBox> rowSettings;
    // Celsius, then Fahrenheit; segment index and tag are the raw value.
    QPointer<SegmentedControl> temperatureSettings;
    // "Automatic", then every temperature sensor; the item data is the sensor's id ("" first).
    QPointer<QComboBox> cpuSensorSettings;
    // One item per theme, its tag (item data) the theme's index.
    QPointer<QComboBox> themeSettings;
    // "Keep history": records the figures (on unless the user turned it off).
    QPointer<QCheckBox> keepHistorySettings;
    // "Clear history…": a first click asks, a second within a few seconds deletes every point.
    QPointer<QPushButton> clearHistoryButton;
    QPointer<FUILink> vigilPage;
    // The alert rules: switches, levels and "back to normal".
    QPointer<AlertRulesSection> alertRules;
    // The alerts that read the rules again after a change; the program's when null.
    Alerts* alerts = nullptr;
    // Other machines: the Machines row's switch and the sources.
    QPointer<MachineSourcesSection> machineSources;
    // The history the two controls act on; none leaves them disabled.
    History* history = nullptr;
    // The widget list's view, whose background follows the theme.
    QPointer<QWidget> mainWidgetView;

    // How the product's page is opened: on the background queue, by the desktop's opener.
    std::function<void(const QString&)> pageOpener = openPageInBackground;
    static void openPageInBackground(const QString& url);

    void viewWillAppear() override;

    void rowSettingsChanged();
    void temperatureSettingsChanged();
    void themeSettingsChanged();
    void cpuSensorSettingsChanged();
    void keepHistorySettingsChanged();
    void clearHistoryClicked();
    void openVigilPage();

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

  private:
    void apply(const Theme& theme);
    void listCPUSensors();
    void showClearHistoryIdle();
    bool clearHistoryArmed_ = false;

    ThemeManager& themes_;
    Defaults& defaults_;
    System& system_;
};

}  // namespace vigil
