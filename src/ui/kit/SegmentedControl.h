#pragma once

#include <QList>
#include <QWidget>

class QButtonGroup;
class QPushButton;

// A row of joined, mutually exclusive segments (a page picker). `activated` is emitted only when the user
// picks a segment, never for setCurrentIndex.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedControl(int count, QWidget* parent = nullptr);

    void setLabel(int index, const QString& text);
    QString label(int index) const;
    int currentIndex() const;
    void setCurrentIndex(int index);
    QPushButton* segment(int index) const { return segments.value(index); }

Q_SIGNALS:
    void activated(int index);

private:
    QButtonGroup* group;
    QList<QPushButton*> segments;
};
