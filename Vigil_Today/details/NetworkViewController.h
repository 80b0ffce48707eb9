#pragma once

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QString>

#include "Updatable.h"
#include "host/ViewController.h"
#include "system/Network.h"
#include "ui/HistoryPanel.h"
#include "ui/Shape.h"

namespace vigil {

class CallbackStackView;
class System;
class Workspace;
class ThemeManager;
struct Theme;

// One network interface in the network details: its name, system name and address, the current
// upload and download rates with their activity lights, and the totals; a click on the row opens
// the interface's menu (MAC address to copy, host name, router, name servers, link speed, the
// desktop's network settings where a program for them is installed).
class NetworkViewController : public ViewController, public Updatable {
  public:
    // `workspace` opens the tools and holds the clipboard; the desktop's when null.
    // `themes` colours the view; the program's when null.
    explicit NetworkViewController(System& system, Workspace* workspace = nullptr,
                                   ThemeManager* themes = nullptr);
    ~NetworkViewController() override;

    // The interface's key in the network resource, and its figures; set by the list.
    QString ifname;
    Network::Interface interface;

    // Outlets.
    QPointer<CallbackStackView> networkRowCallback;
    QPointer<QLabel> networkIcon;
    QPointer<QLabel> name, bsdName, localAddress;
    QPointer<QLabel> upload, download;
    QPointer<Circle> ledUpload, ledDownload;
    QPointer<QLabel> totalUploaded, totalDownloaded;
    QPointer<QMenu> contextMenu;
    QPointer<QLabel> itemMacAddress, itemHostName, itemRouter, itemDNS, itemLinkSpeed;
    // Named after the installed network settings program; hidden when there is none.
    QPointer<QAction> itemNetworkSettings;
    // Upload and download over time, by the link's name and MAC. None without history.
    QPointer<HistoryPanel> historyPanel;

    // The name of the icon image shown ("wifi", "wifi-light", "ethernet", "ethernet-light").
    QString networkIconName() const { return iconName_; }

    void viewWillAppear() override;
    // Reads the interface's current figures from the network resource and redraws.
    void update() override;
    // Redraws from the given figures of this interface (the list reads them once per tick).
    void update(const Network::Interface& current);

    void popupMenu();
    // Menu actions.
    void macSelected();
    void openNetworkSettings();

    void apply(const Theme& theme);

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

  private:
    System& system_;
    Workspace& workspace_;
    ThemeManager& themes_;
    QString iconName_;
};

// The interface icon of that name, drawn from the glyph face: "wifi" and "ethernet" in a light
// colour for dark backgrounds, their "-light" variants in a dark colour for light ones.
QPixmap networkIconImage(const QString& name, int size);

}  // namespace vigil
