#pragma once

#include <QPushButton>

// A flat button drawn as a link in the accent colour, with the pointing-hand cursor.
class LinkButton : public QPushButton {
    Q_OBJECT
public:
    explicit LinkButton(const QString& text = QString(), QWidget* parent = nullptr);
};
