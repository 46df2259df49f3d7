#pragma once

#include <QList>
#include <QWidget>
#include <utility>

// The paste hint of the shots page: the hot key and " 粘 " in the secondary colour, then what the next
// paste takes, bold in the accent colour when a shot is chosen. When the header is narrow it shows the
// longest of its shorter forms that fits, which keep the hot key and the chosen shot's number, with the
// whole text as its tooltip; it asks the panel for the room of the shortest.
class PasteHint : public QWidget {
    Q_OBJECT
public:
    explicit PasteHint(QWidget* parent = nullptr);

    // `shorter`: the lead and the choice of each shorter form, longest first.
    void setTexts(const QString& lead, const QString& choice, bool chosen,
                  const QList<std::pair<QString, QString>>& shorter = {});
    QString lead() const { return leadText; }
    QString choice() const { return choiceText; }
    bool chosen() const { return isChosen; }
    // What is drawn now, at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    using Form = std::pair<QString, QString>; // lead, choice
    QFont choiceFont() const;
    int widthOf(const Form& form) const;
    qreal leadWidth() const;
    // The choice of the form shown, as it fits after the lead.
    QString drawnChoice() const;
    // Picks the form for the current width and says the whole text in the tooltip when it is not that.
    void pickForm();

    QString leadText;
    QString choiceText;
    bool isChosen = false;
    QList<Form> forms; // the whole text first
    int shown = 0;
};
