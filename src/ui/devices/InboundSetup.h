#pragma once

#include "ui/devices/DevicesPageModel.h"

#include <QWidget>
#include <functional>

class KeyedWidgetList;
class QLabel;
class QPushButton;
class StatusDot;
class StatusLabel;

// The two steps that let the other machines log in to this one (the ssh server on; each machine's key
// allowed), each ticked off as soon as the device link sees it done; once both are, a one-line summary
// that opens into the steps again.
class InboundSetup : public QWidget {
    Q_OBJECT
public:
    explicit InboundSetup(QWidget* parent = nullptr);

    // `expanded`: the steps stay open although both are done.
    void refresh(const DevicesPageModel& model, bool expanded);
    bool showsSummary() const;
    QPushButton* stepOneButton() const { return stepOne; }
    QPushButton* detailsButton() const { return details; }
    QPushButton* foldButton() const { return fold; }
    QPushButton* keyButton(const QString& peerID) const;

    std::function<void(bool expanded)> onExpand;
    std::function<void()> onStepOne;
    std::function<void(const PeerDevice&)> onAddKey;

private:
    QWidget* buildSummary();
    QWidget* buildSteps();

    QWidget* summary;
    QWidget* steps;
    StatusLabel* summaryText;
    QPushButton* details;
    QLabel* header;
    QPushButton* fold;
    StatusDot* oneDot;
    QLabel* oneTitle;
    StatusLabel* oneText;
    QPushButton* stepOne;
    StatusDot* twoDot;
    QLabel* twoTitle;
    KeyedWidgetList* rows;
    StatusLabel* missing;
    QList<PeerDevice> rowPeers;
};
