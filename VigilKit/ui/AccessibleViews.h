#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace vigil {

// What a screen reader learns of the toolkit's views, through Qt's accessibility (AT-SPI on
// Linux). Registered once by every toolkit view that needs it; views made elsewhere keep Qt's
// own interfaces.
//
//   gauges (CircleChart, Bar)   progress bar; name from accessibleName ("Processor"), value the
//                               spoken percentage ("23 percent")
//   activatable views           button with the Press action; name from accessibleName, else
//                               the spoken names of its children in reading order
//   figures (markFigure)        static text "Upload, 1.2 megabytes per second"
//   charts (PieChart, LineChart) chart; description from accessibleDescription, else a summary
//                               of the data
//   Announcer                   alert message
//
// Values that change at every sample tell assistive technologies with a value-change event, not
// an announcement; nothing is sent while no assistive technology listens.
void registerAccessibleViews();

// Makes the label a figure: a screen reader reads "name, spoken figure" and learns of a new
// figure through a value change.
void markFigure(QLabel& label, const QString& name);

// Whether markFigure made the label a figure.
bool isFigure(const QLabel& label);

// Leaves the view out of the name an activatable parent builds from its children (a caption
// that repeats what a gauge already says).
void leaveOutOfSpokenName(QWidget& view);

// Tells listening assistive technologies that the view's value changed; nothing when none
// listens.
void noteValueChanged(QWidget& view);

// The spoken name of a view as the factory builds it: accessibleName, else its children's.
QString spokenName(QWidget& view);

}  // namespace vigil
