#include "ui/kit/StatusLabel.h"
#include "ui/kit/Theme.h"

#include <QTest>

class StatusLabelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The role is a declared property whose setter goes through the theme, which writes the property; a plain
    // label carries it as a dynamic property. Whichever door sets it, the text takes the role's colour.
    void roleSetThroughEveryDoorColoursTheText()
    {
        StatusLabel label(QStringLiteral("red"));
        QLabel plain;
        const QList<std::pair<QString, std::function<void()>>> doors{
            {QStringLiteral("red"), [] {}},
            {QStringLiteral("green"), [&] { label.setProperty("colorRole", QStringLiteral("green")); }},
            {QStringLiteral("secondary"), [&] { Theme::applyTextRole(label, QStringLiteral("secondary")); }},
        };
        for (const auto& [role, set] : doors) {
            set();
            QCOMPARE(label.colorRole(), role);
            QCOMPARE(label.palette().color(QPalette::WindowText), Theme::color(role));
        }
        Theme::applyTextRole(plain, QStringLiteral("orange"));
        QCOMPARE(plain.property("colorRole").toString(), QStringLiteral("orange"));
        QCOMPARE(plain.palette().color(QPalette::WindowText), Theme::color(QStringLiteral("orange")));
    }
};

QTEST_MAIN(StatusLabelTest)
#include "StatusLabelTest.moc"
