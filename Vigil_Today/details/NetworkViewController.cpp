#include "details/NetworkViewController.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "details/DetailViews.h"
#include "details/HistorySection.h"
#include "host/Workspace.h"
#include "system/Formatting.h"
#include "system/HistoryRecorder.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"
#include "ui/FUIFont.h"
#include "ui/Glyph.h"
#include "views/CallbackStackView.h"

namespace vigil {

namespace {

constexpr int kIconSize = 28;

}  // namespace

QPixmap networkIconImage(const QString& name, int size) {
    const bool wifi = name.startsWith(QStringLiteral("wifi"));
    const bool forLightBackground = name.endsWith(QStringLiteral("-light"));
    QPixmap image(size, size);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = FUIFont::glyph(size * 0.72).value_or(QFont());
    font.setPixelSize(static_cast<int>(size * 0.8));
    painter.setFont(font);
    painter.setPen(forLightBackground ? FUIColor::wetAsphalt() : FUIColor::clouds());
    // Fork Awesome's wifi and sitemap characters (the latter draws a wired network).
    const QChar glyph = wifi ? QChar(0xF1EB) : QChar(0xF0E8);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QString(glyph));
    return image;
}

NetworkViewController::NetworkViewController(System& system, Workspace* workspace,
                                             ThemeManager* themes)
    : system_(system),
      workspace_(workspace ? *workspace : desktopWorkspace()),
      themes_(themes ? *themes : ThemeManager::shared()) {}

NetworkViewController::~NetworkViewController() {
    delete contextMenu.data();
}

QWidget* NetworkViewController::loadView() {
    auto* root = new QWidget();
    auto* outer = new QVBoxLayout(root);
    outer->setContentsMargins(12, 8, 12, 0);
    outer->setSpacing(2);

    networkRowCallback = new CallbackStackView(Qt::Horizontal, root);
    networkRowCallback->setCursor(Qt::PointingHandCursor);
    networkRowCallback->stackLayout()->setSpacing(8);
    networkIcon = new QLabel(networkRowCallback);
    networkIcon->setFixedSize(kIconSize, kIconSize);
    networkRowCallback->addView(networkIcon);
    networkRowCallback->stackLayout()->setAlignment(networkIcon, Qt::AlignTop);

    auto* texts = new QWidget(networkRowCallback);
    auto* textsLayout = new QVBoxLayout(texts);
    textsLayout->setContentsMargins(0, 0, 0, 0);
    textsLayout->setSpacing(1);
    auto* nameLine = new QHBoxLayout();
    nameLine->setSpacing(6);
    name = detailLabel(texts, 13, true);
    name->setObjectName("name");
    bsdName = detailLabel(texts, 11, false, FieldRole::caption);
    bsdName->setObjectName("bsdName");
    nameLine->addWidget(name);
    nameLine->addWidget(bsdName, 0, Qt::AlignBaseline);
    nameLine->addStretch(1);
    textsLayout->addLayout(nameLine);
    localAddress = detailLabel(texts, 11);
    localAddress->setObjectName("localAddress");
    localAddress->setTextInteractionFlags(Qt::TextSelectableByMouse);
    textsLayout->addWidget(localAddress);
    networkRowCallback->addView(texts);
    networkRowCallback->stackLayout()->setStretchFactor(texts, 1);

    auto* rates = new QWidget(networkRowCallback);
    auto* ratesLayout = new QVBoxLayout(rates);
    ratesLayout->setContentsMargins(0, 0, 0, 0);
    ratesLayout->setSpacing(1);
    auto rateLine = [&](const QString& arrow, QPointer<Circle>& led, QPointer<QLabel>& value,
                        const char* objectName) {
        auto* line = new QHBoxLayout();
        line->setSpacing(5);
        led = new Circle(rates);
        led->setFixedSize(7, 7);
        led->setColor(FUIColor::silver());
        value = detailLabel(rates, 11, true);
        value->setObjectName(objectName);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setMinimumWidth(70);
        line->addStretch(1);
        line->addWidget(detailCaption(rates, 11, arrow));
        line->addWidget(value);
        line->addWidget(led, 0, Qt::AlignVCenter);
        ratesLayout->addLayout(line);
    };
    rateLine(QStringLiteral("\u2191"), ledUpload, upload, "upload");
    rateLine(QStringLiteral("\u2193"), ledDownload, download, "download");
    networkRowCallback->addView(rates);
    outer->addWidget(networkRowCallback);

    auto* totals = new QHBoxLayout();
    totals->setContentsMargins(kIconSize + 8, 2, 0, 0);
    totals->setSpacing(4);
    auto total = [&](const QString& title, QPointer<QLabel>& value, const char* objectName) {
        auto* label = detailCaption(root, 10, title);
        value = detailLabel(root, 10, true);
        value->setObjectName(objectName);
        totals->addWidget(label);
        totals->addWidget(value);
        totals->addSpacing(10);
    };
    total(QStringLiteral("Sent"), totalUploaded, "totalUploaded");
    total(QStringLiteral("Received"), totalDownloaded, "totalDownloaded");
    totals->addStretch(1);
    outer->addLayout(totals);

    historyPanel = HistorySection::make(root, {});
    if (historyPanel) {
        historyPanel->chart()->formatValue = [](double v) { return qs(bpsStr(v)); };
        outer->addSpacing(4);
        outer->addWidget(historyPanel);
    }
    outer->addSpacing(4);
    outer->addWidget(detailSeparator(root));

    contextMenu = new QMenu();
    itemMacAddress = addMenuFact(contextMenu, QStringLiteral("MAC Address"));
    if (auto* item = contextMenu->actions().value(0))
        QObject::connect(item, &QAction::triggered, root, [this] { macSelected(); });
    itemHostName = addMenuFact(contextMenu, QStringLiteral("Host Name"));
    itemRouter = addMenuFact(contextMenu, QStringLiteral("Router"));
    itemDNS = addMenuFact(contextMenu, QStringLiteral("DNS"));
    itemLinkSpeed = addMenuFact(contextMenu, QStringLiteral("Link Speed"));
    contextMenu->addSeparator();
    const std::optional<QString> settings = workspace_.systemToolName(SystemTool::networkSettings);
    itemNetworkSettings = contextMenu->addAction(settings.value_or(QString()) + QStringLiteral("…"),
                                                 [this] { openNetworkSettings(); });
    itemNetworkSettings->setVisible(settings.has_value());
    return root;
}

void NetworkViewController::viewDidLoad() {
    bsdName->setText(ifname);
    itemMacAddress->setText(qs(interface.mac).toUpper());
    if (historyPanel) {
        historyPanel->setLines({{HistoryRecorder::linkSeries(interface.name, interface.mac, "up"),
                                 QStringLiteral("Up"), FUIColor::peterRiver()},
                                {HistoryRecorder::linkSeries(interface.name, interface.mac, "down"),
                                 QStringLiteral("Down"), FUIColor::emerald()}});
    }
    contextMenu->setFont(detailMenuFont());
    networkRowCallback->onclick = [this] { popupMenu(); };
    apply(themes_.activeTheme());
    themes_.onThemeChange.listen(*this, [this](const Theme& theme) { apply(theme); });
}

void NetworkViewController::viewWillAppear() {
    view();
    name->setText(qs(interface.name) + QStringLiteral(" \u203A"));
    localAddress->setText(qs(interface.ipaddr));
    itemHostName->setText(qs(system_.net().localhostName().value_or("-")));
    itemRouter->setText(qs(system_.net().router().value_or("-")));
    itemDNS->setText(qs(system_.net().dns().value_or("-")));
    itemLinkSpeed->setText(interface.linkSpeed ? QString::number(*interface.linkSpeed / 1'000'000) +
                                                     QStringLiteral(" Mb/s")
                                               : QStringLiteral("-"));
    update();
}

void NetworkViewController::update() {
    const auto interfaces = system_.net().interfaces();
    const auto found = interfaces.find(ifname.toStdString());
    update(found == interfaces.end() ? interface : found->second);
}

void NetworkViewController::update(const Network::Interface& current) {
    if (!isViewLoaded())
        return;
    if (&current != &interface)
        interface = current;
    ledUpload->setColor(interface.obytesps > 0 ? FUIColor::peterRiver() : FUIColor::silver());
    ledDownload->setColor(interface.ibytesps > 0 ? FUIColor::emerald() : FUIColor::silver());
    upload->setText(qs(bpsStr(interface.obytesps)));
    download->setText(qs(bpsStr(interface.ibytesps)));
    totalUploaded->setText(qs(byteStr(interface.obytes)));
    totalDownloaded->setText(qs(byteStr(interface.ibytes)));
    if (historyPanel)
        historyPanel->refresh();
}

void NetworkViewController::popupMenu() {
    if (!contextMenu || !networkIcon)
        return;
    contextMenu->popup(networkIcon->mapToGlobal(QPoint(0, networkIcon->height() + 4)));
}

void NetworkViewController::macSelected() {
    workspace_.copyToClipboard(itemMacAddress->text());
}

void NetworkViewController::openNetworkSettings() {
    workspace_.launchSystemTool(SystemTool::networkSettings);
}

void NetworkViewController::apply(const Theme& theme) {
    theme.updateText(view());
    const bool isDark = theme.isDark;
    const QString base = interface.isWifi ? QStringLiteral("wifi") : QStringLiteral("ethernet");
    iconName_ = isDark ? base : base + QStringLiteral("-light");
    networkIcon->setPixmap(networkIconImage(iconName_, kIconSize));
    HistorySection::apply(historyPanel, theme);
}

}  // namespace vigil
