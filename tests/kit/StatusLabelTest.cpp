#include "ui/kit/StatusLabel.h"
#include "ui/kit/Theme.h"

#include <QTest>

class StatusLabelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The role is a declared property whose setter goes through the theme, which writes the property.
    void roleSetThroughEveryDoorColoursTheText()
    {
        StatusLabel label(QStringLiteral("red"));
        QCOMPARE(label.colorRole(), QStringLiteral("red"));
        QCOMPARE(label.palette().color(QPalette::WindowText), Theme::color(QStringLiteral("red")));

        label.setProperty("colorRole", QStringLiteral("green"));
        QCOMPARE(label.colorRole(), QStringLiteral("green"));
        QCOMPARE(label.palette().color(QPalette::WindowText), Theme::color(QStringLiteral("green")));

        Theme::applyTextRole(label, QStringLiteral("secondary"));
        QCOMPARE(label.colorRole(), QStringLiteral("secondary"));
        QCOMPARE(label.palette().color(QPalette::WindowText), Theme::color(QStringLiteral("secondary")));
    }

    void plainWidgetsCarryTheRoleAsADynamicProperty()
    {
        QLabel plain;
        Theme::applyTextRole(plain, QStringLiteral("orange"));
        QCOMPARE(plain.property("colorRole").toString(), QStringLiteral("orange"));
        QCOMPARE(plain.palette().color(QPalette::WindowText), Theme::color(QStringLiteral("orange")));
    }
};

QTEST_MAIN(StatusLabelTest)
#include "StatusLabelTest.moc"
