#pragma once

#include <QWidget>

// The paste hint of the shots page: the hot key and " 粘 " in the secondary colour, then what the next
// paste takes, bold in the accent colour when a shot is chosen. When the header is narrow the lead gives
// way first ("…"), so the chosen shot's number stays readable; it never widens the panel beyond that.
class PasteHint : public QWidget {
    Q_OBJECT
public:
    explicit PasteHint(QWidget* parent = nullptr);

    void setTexts(const QString& lead, const QString& choice, bool chosen);
    QString lead() const { return leadText; }
    QString choice() const { return choiceText; }
    bool chosen() const { return isChosen; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont choiceFont() const;
    int choiceWidth() const;

    QString leadText;
    QString choiceText;
    bool isChosen = false;
};
