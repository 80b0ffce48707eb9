#pragma once

#include <QLabel>
#include <QPointer>

#include <memory>

#include "Updatable.h"
#include "host/ViewController.h"
#include "rows/WidgetContext.h"
#include "system/Network.h"
#include "ui/Shape.h"
#include "views/CallbackStackView.h"

namespace vigil {

class NetworkListViewController;

// The second summary row: upload and download rates around a dot that shows the connection
// (red none, yellow local, green Internet). Clicking it opens or closes the network list.
class SecondRowViewController : public ViewController, public Updatable {
  public:
    static constexpr int kRowHeight = 44;

    explicit SecondRowViewController(WidgetContext context = WidgetContext::shared());
    ~SecondRowViewController() override;

    void update() override;
    void viewWillAppear() override;
    // Does nothing without a connection.
    void toggleNetworkView();

    QLabel* upload() const { return upload_; }
    QLabel* download() const { return download_; }
    Circle* netIndicator() const { return netIndicator_; }
    CallbackStackView* netStackView() const { return netStackView_; }
    NetworkListViewController& networkListViewController() const {
        return *networkListViewController_;
    }

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

  private:
    // Names the dot after the connection, and announces a change of it once.
    void showConnection(Network::ConnectionType connection);
    WidgetContext context_;
    QPointer<QLabel> upload_;
    QPointer<QLabel> download_;
    QPointer<Circle> netIndicator_;
    QPointer<CallbackStackView> netStackView_;
    std::unique_ptr<NetworkListViewController> networkListViewController_;
};

}  // namespace vigil
