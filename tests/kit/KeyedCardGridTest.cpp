#include "ui/kit/KeyedCardGrid.h"

#include <QLineEdit>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

class KeyedCardGridTest : public QObject {
    Q_OBJECT

    static constexpr int cardHeight = 100;

    struct Rig {
        int made = 0;
        QScrollArea area;
        KeyedCardGrid* grid;

        Rig()
        {
            grid = new KeyedCardGrid([this](const QString& key) {
                ++made;
                auto* card = new QLineEdit(key);
                card->setFixedHeight(cardHeight);
                return card;
            });
            grid->setColumns(2);
            grid->setSpacing(10, 10);
            grid->setMargin(10);
            area.setWidgetResizable(true);
            area.setWidget(grid);
            area.resize(400, 330); // three rows in view
        }
        void show()
        {
            area.show();
            QVERIFY(QTest::qWaitForWindowExposed(&area));
        }
    };

    static QStringList keys(int count, int from = 0)
    {
        QStringList out;
        for (int i = from; i < from + count; ++i)
            out << QStringLiteral("k%1").arg(i);
        return out;
    }

private Q_SLOTS:
    // A hidden grid builds nothing; shown, it builds the rows in view and one screen ahead, not all 500.
    void buildsOnlyNearTheVisiblePart()
    {
        Rig rig;
        rig.grid->setKeys(keys(500));
        QCOMPARE(rig.made, 0);
        rig.show();
        QVERIFY2(rig.made >= 6 && rig.made <= 16, qPrintable(QString::number(rig.made)));
        QCOMPARE(rig.grid->minimumHeight(), 2 * 10 + 250 * cardHeight + 249 * 10);
        QVERIFY(rig.grid->widget(QStringLiteral("k0")));
        QVERIFY(!rig.grid->widget(QStringLiteral("k100")));
        const int width = (rig.grid->width() - 2 * 10 - 10) / 2;
        QCOMPARE(rig.grid->widget(QStringLiteral("k3"))->geometry(), QRect(10 + width + 10, 10 + 110, width, 100));
    }

    // Scrolling builds what comes near and lets go of what is far, except a card that holds the focus.
    void scrollingBuildsAndLetsGo()
    {
        Rig rig;
        rig.grid->setKeys(keys(500));
        rig.show();
        auto* focused = rig.grid->widgetAs<QLineEdit>(QStringLiteral("k1"));
        focused->setFocus();
        QPointer<QWidget> farAway = rig.grid->widget(QStringLiteral("k2"));
        rig.area.verticalScrollBar()->setValue(110 * 200);
        QVERIFY(rig.grid->widget(QStringLiteral("k400")));
        QVERIFY(rig.grid->builtCount() < 30);
        QTRY_VERIFY(farAway.isNull());
        QCOMPARE(rig.grid->widget(QStringLiteral("k1")), focused);
    }

    // A new key in front moves every card one place on and rebuilds none of them.
    void republicationKeepsEveryBuiltCard()
    {
        Rig rig;
        rig.grid->setKeys(keys(20, 1));
        rig.show();
        QHash<QString, QWidget*> before;
        for (const QString& key : rig.grid->builtKeys())
            before.insert(key, rig.grid->widget(key));
        rig.made = 0;
        rig.grid->setKeys(QStringList{QStringLiteral("k0")} + keys(20, 1));
        QCOMPARE(rig.made, 1);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QCOMPARE(rig.grid->widget(it.key()), it.value());
        // k1 moved to the second column of the first row, k2 down to the first column of the second.
        QCOMPARE(rig.grid->widget(QStringLiteral("k1"))->pos(), rig.grid->widget(QStringLiteral("k0"))->pos() + QPoint(rig.grid->widget(QStringLiteral("k0"))->width() + 10, 0));
        QCOMPARE(rig.grid->widget(QStringLiteral("k2"))->pos(), QPoint(10, 10 + 110));

        rig.grid->setKeys(keys(5, 1)); // the tail went
        QTRY_COMPARE(rig.grid->findChildren<QLineEdit*>().size(), 5);
        QCOMPARE(rig.grid->minimumHeight(), 2 * 10 + 3 * cardHeight + 2 * 10);

        // One in front while one in the middle went: every card at its own new place.
        rig.grid->setKeys({QStringLiteral("x"), QStringLiteral("k1"), QStringLiteral("k2"), QStringLiteral("k4"),
                           QStringLiteral("k5")});
        QTRY_VERIFY(!rig.grid->widget(QStringLiteral("k3")));
        const int second = rig.grid->widget(QStringLiteral("k1"))->x();
        QCOMPARE(rig.grid->widget(QStringLiteral("k2"))->pos(), QPoint(10, 10 + 110));
        QCOMPARE(rig.grid->widget(QStringLiteral("k4"))->pos(), QPoint(second, 10 + 110));
        QCOMPARE(rig.grid->widget(QStringLiteral("k5"))->pos(), QPoint(10, 10 + 2 * 110));
    }
};

QTEST_MAIN(KeyedCardGridTest)
#include "KeyedCardGridTest.moc"
