#pragma once

#include <QLabel>

// A short white text on a filled capsule in one of the theme's colour roles ("最新", "✔ 下次粘这张", a
// device badge). The role is the "colorRole" property. Plain text.
class Badge : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString colorRole READ colorRole WRITE setColorRole)
public:
    explicit Badge(const QString& text = QString(), const QString& role = QStringLiteral("accent"),
                   QWidget* parent = nullptr);

    QString colorRole() const { return role; }
    void setColorRole(const QString& role);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString role;
};
