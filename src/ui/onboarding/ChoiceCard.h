#pragma once

#include <QAbstractButton>

class QLabel;

// One answer of "你想把截图传到哪": a round mark, a title and a detail line on a rounded card, outlined in
// the accent colour while selected ("selected" property).
class ChoiceCard : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(bool selected READ selected)
public:
    ChoiceCard(const QString& title, const QString& detail, QWidget* parent = nullptr);

    bool selected() const { return isSelected; }
    void setSelected(bool on);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool isSelected = false;
    QLabel* mark;
    QLabel* heading;
    QLabel* detailLine;
};
