#pragma once

#include <QLabel>

// A wrapping label in one of the theme's colour roles. Its text is plain (it may show text from a server or
// the service), or, through setMarkup(), plain apart from **bold** and `code` runs. The role is the
// "colorRole" property.
class StatusLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString colorRole READ colorRole WRITE setColorRole)
public:
    explicit StatusLabel(const QString& role = QString(), QWidget* parent = nullptr);

    QString colorRole() const { return role; }
    void setColorRole(const QString& role);
    // Point size relative to the application font (e.g. -1 for callout, -2 for footnote).
    void setSizeStep(int step);
    // Shows `marked` with its **bold** and `code` runs styled; every other character, line breaks included,
    // stands as written.
    void setMarkup(const QString& marked);
    // The rich text setMarkup() shows.
    static QString markupHtml(const QString& marked);

private:
    QString role;
};
