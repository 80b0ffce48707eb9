#include "settings/MachineSourcesSection.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QUrl>
#include <QVBoxLayout>

#include "collectors/MachineSourceSettings.h"
#include "settings/WidgetDefaults.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"
#include "ui/FUIFont.h"

namespace vigil {

namespace {
// The URL as listed: without its password.
QString shownUrl(const std::string& url) {
    return QUrl(QString::fromStdString(url)).toDisplayString(QUrl::RemovePassword);
}
}  // namespace

MachineSourcesSection::MachineSourcesSection(Defaults& defaults, QWidget* parent)
    : QWidget(parent), defaults_(defaults) {
    setObjectName(QStringLiteral("machineSources"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    showRow = new QCheckBox(QStringLiteral("Show other machines"), this);
    showRow->setObjectName(QStringLiteral("machinesRowSetting"));
    sources = new QListWidget(this);
    sources->setObjectName(QStringLiteral("machineSourceList"));
    sources->setMaximumHeight(72);
    url = new QLineEdit(this);
    url->setObjectName(QStringLiteral("machineSourceUrl"));
    url->setPlaceholderText(QStringLiteral("http://host:9100/metrics or :9090"));
    url->setToolTip(QStringLiteral(
        "A node exporter (http://host:9100/metrics) or a Prometheus server (http://host:9090)"));
    token = new QLineEdit(this);
    token->setObjectName(QStringLiteral("machineSourceToken"));
    token->setPlaceholderText(QStringLiteral("Token"));
    token->setToolTip(QStringLiteral("A bearer token, where the source asks for one"));
    token->setEchoMode(QLineEdit::Password);
    add = new QPushButton(QStringLiteral("Add"), this);
    add->setObjectName(QStringLiteral("addMachineSource"));
    remove = new QPushButton(QStringLiteral("Remove"), this);
    remove->setObjectName(QStringLiteral("removeMachineSource"));
    if (auto font = FUIFont::normal(12))
        for (QWidget* w :
             std::initializer_list<QWidget*>{showRow, sources, url, token, add, remove})
            w->setFont(*font);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(token, 1);
    buttons->addWidget(add);
    buttons->addWidget(remove);
    layout->addWidget(showRow);
    layout->addWidget(sources);
    layout->addWidget(url);
    layout->addLayout(buttons);

    QObject::connect(showRow, &QCheckBox::toggled, this,
                     [this](bool on) { defaults_.set(WidgetDefaultsKeys::machinesRow(), on); });
    QObject::connect(add, &QPushButton::clicked, this, [this] { addSource(); });
    QObject::connect(url, &QLineEdit::returnPressed, this, [this] { addSource(); });
    QObject::connect(remove, &QPushButton::clicked, this, [this] { removeSource(); });
    QObject::connect(sources, &QListWidget::currentRowChanged, this,
                     [this](int row) { remove->setEnabled(row >= 0); });
}

void MachineSourcesSection::reload() {
    const QSignalBlocker quiet(showRow);
    showRow->setChecked(defaults_.get(WidgetDefaultsKeys::machinesRow()));
    sources->clear();
    for (const auto& source : machineSources(defaults_))
        sources->addItem(shownUrl(source.url));
    remove->setEnabled(sources->currentRow() >= 0);
    sources->setVisible(sources->count() > 0);
    remove->setVisible(sources->count() > 0);
}

void MachineSourcesSection::addSource() {
    const QUrl parsed(url->text().trimmed(), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty() ||
        (parsed.scheme() != QLatin1String("http") && parsed.scheme() != QLatin1String("https"))) {
        url->setToolTip(QStringLiteral("An http:// or https:// address"));
        url->selectAll();
        return;
    }
    MachineSourceConfig source;
    source.url = parsed.toString().toStdString();
    source.kind = MachineSourceConfig::kindOfUrl(source.url);
    source.credentials.user = parsed.userName().toStdString();
    source.credentials.password = parsed.password().toStdString();
    source.credentials.token = token->text().toStdString();
    auto configs = machineSources(defaults_);
    configs.push_back(source);
    store(configs);
    url->clear();
    token->clear();
}

void MachineSourcesSection::removeSource() {
    const int row = sources->currentRow();
    auto configs = machineSources(defaults_);
    if (row < 0 || row >= static_cast<int>(configs.size()))
        return;
    configs.erase(configs.begin() + row);
    store(configs);
}

void MachineSourcesSection::store(const std::vector<MachineSourceConfig>& configs) {
    setMachineSources(configs, defaults_);
    reload();
    if (onSourcesChanged)
        onSourcesChanged(configs);
}

void MachineSourcesSection::applyTheme(const Theme& theme) {
    theme.updateText(this);
    // The fields keep the style's drawing; their colours follow the theme, as the settings view's
    // pop-ups do.
    for (QWidget* field :
         std::initializer_list<QWidget*>{showRow, sources, url, token, add, remove}) {
        QPalette palette = QApplication::palette(field);
        if (theme.isDark) {
            for (auto group : {QPalette::Active, QPalette::Inactive}) {
                for (auto role : {QPalette::Button, QPalette::Base, QPalette::Window})
                    palette.setColor(group, role, FUIColor::wetAsphalt());
                for (auto role : {QPalette::ButtonText, QPalette::WindowText, QPalette::Text})
                    palette.setColor(group, role, theme.labelColor);
            }
            QColor placeholder = theme.labelColor;
            placeholder.setAlphaF(0.5);
            palette.setColor(QPalette::PlaceholderText, placeholder);
        }
        field->setPalette(palette);
    }
    QPalette palette = showRow->palette();
    palette.setColor(QPalette::WindowText, theme.labelColor);
    showRow->setPalette(palette);
}

}  // namespace vigil
