#include "rows/SecondRowViewController.h"

#include <QHBoxLayout>

#include "NavigationController.h"
#include "details/NetworkListViewController.h"
#include "rows/RowStyle.h"
#include "system/Formatting.h"
#include "system/Network.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/AccessibleViews.h"
#include "ui/Announcer.h"
#include "ui/FigureText.h"

namespace vigil {

namespace {
constexpr int kDotSize = 10;
const QString kUpArrow = QStringLiteral("\u2191 ");
const QString kDownArrow = QStringLiteral(" \u2193");
}  // namespace

SecondRowViewController::SecondRowViewController(WidgetContext context)
    : context_(context),
      networkListViewController_(std::make_unique<NetworkListViewController>(
          &context.system, nullptr, &context.defaults, &context.themes)) {}

SecondRowViewController::~SecondRowViewController() = default;

QWidget* SecondRowViewController::loadView() {
    auto* row = new QWidget();
    row->setObjectName(QStringLiteral("secondRow"));
    row->setFixedHeight(kRowHeight);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    netStackView_ = new CallbackStackView(Qt::Horizontal, row);
    netStackView_->setCursor(Qt::PointingHandCursor);
    netStackView_->stackLayout()->setContentsMargins(16, 0, 16, 0);
    netStackView_->stackLayout()->setSpacing(12);
    upload_ = makeRowLabel(kUpArrow + QStringLiteral("0.0 KB/s"), 14);
    upload_->setObjectName(QStringLiteral("upload"));
    upload_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    download_ = makeRowLabel(QStringLiteral("0.0 KB/s") + kDownArrow, 14);
    download_->setObjectName(QStringLiteral("download"));
    download_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    netIndicator_ = new Circle();
    netIndicator_->setObjectName(QStringLiteral("netIndicator"));
    netIndicator_->setFixedSize(kDotSize, kDotSize);
    markFigure(*upload_, QStringLiteral("Upload"));
    markFigure(*download_, QStringLiteral("Download"));
    netStackView_->addView(upload_);
    netStackView_->addView(netIndicator_);
    netStackView_->addView(download_);
    // Equal halves keep the dot in the middle whatever the rates read.
    netStackView_->stackLayout()->setStretch(0, 1);
    netStackView_->stackLayout()->setStretch(2, 1);
    layout->addWidget(netStackView_);
    return row;
}

namespace {
// The connection dot in the theme's status colours, which keep 3:1 against the panel in both
// themes: none, local only, and through to the internet.
QColor dotColor(Network::ConnectionType connection, const Theme& theme) {
    switch (connection) {
        case Network::ConnectionType::none:
            return theme.dangerColor;
        case Network::ConnectionType::local:
            return theme.warningColor;
        default:
            return theme.successColor;
    }
}
}  // namespace

void SecondRowViewController::viewDidLoad() {
    netIndicator_->setColor(dotColor(Network::ConnectionType::none, context_.themes.activeTheme()));
    netStackView_->onclick = [this] { toggleNetworkView(); };
    context_.themes.activeTheme().updateText(view());
    context_.themes.onThemeChange.listen(*this, [this](const Theme& theme) {
        theme.updateText(view());
        netIndicator_->setColor(dotColor(context_.system.net().connection(), theme));
    });
}

void SecondRowViewController::viewWillAppear() {
    update();
}

void SecondRowViewController::update() {
    view();
    const Network& net = context_.system.net();
    const Network::ConnectionType connection = net.connection();
    NetworkListViewController& list = *networkListViewController_;
    const bool listOpen = context_.navigator.isVisible(&list);
    showConnection(connection);

    netIndicator_->setColor(dotColor(connection, context_.themes.activeTheme()));
    if (connection == Network::ConnectionType::none) {
        upload_->setText(kUpArrow + QStringLiteral("0.0 KB/s"));
        download_->setText(QStringLiteral("0.0 KB/s") + kDownArrow);
        if (listOpen)
            context_.navigator.toggleSecondRow(list);
        return;
    }
    const Network::Interface total = net.aggregated();
    showFigure(*upload_, kUpArrow + QString::fromStdString(bpsStr(total.obytesps)));
    showFigure(*download_, QString::fromStdString(bpsStr(total.ibytesps)) + kDownArrow);
    if (listOpen)
        list.update();
}

namespace {

QString connectionText(Network::ConnectionType connection) {
    switch (connection) {
        case Network::ConnectionType::none:
            return QStringLiteral("Not connected");
        case Network::ConnectionType::local:
            return QStringLiteral("Connected to the local network only");
        default:
            return QStringLiteral("Connected");
    }
}

}  // namespace

void SecondRowViewController::showConnection(Network::ConnectionType connection) {
    const QString text = connectionText(connection);
    if (netIndicator_->accessibleName() == text)
        return;
    // The first state is what the row shows when it opens: only later changes are news.
    const bool changed = !netIndicator_->accessibleName().isEmpty();
    netIndicator_->setAccessibleName(text);
    if (changed)
        Announcer::announce(*netIndicator_, text);
}

void SecondRowViewController::toggleNetworkView() {
    if (context_.system.net().connection() == Network::ConnectionType::none)
        return;
    context_.navigator.toggleSecondRow(*networkListViewController_);
}

}  // namespace vigil
