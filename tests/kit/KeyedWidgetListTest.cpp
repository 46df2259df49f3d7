#include "ui/kit/KeyedWidgetList.h"

#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

class KeyedWidgetListTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void keysKeepTheirWidgets_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("built");
        const auto keys = [](const char* text) { return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts); };
        QTest::newRow("same keys") << keys("a b c") << keys("a b c") << 0;
        QTest::newRow("one in front") << keys("a b c") << keys("n a b c") << 1;
        QTest::newRow("reversed") << keys("a b c") << keys("c b a") << 0;
        QTest::newRow("emptied") << keys("a b c") << keys("") << 0;
        QTest::newRow("moved and added") << keys("a b c d") << keys("d x b") << 1;
    }

    // Only new keys get a widget; the others keep theirs (typed text survives) and the layout shows the new order.
    void keysKeepTheirWidgets()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(int, built);
        int made = 0;
        KeyedWidgetList list([&made](const QString& key) {
            ++made;
            return new QLabel(key);
        });
        list.setKeys(before);
        QHash<QString, QPointer<QWidget>> old;
        for (const QString& key : before) {
            list.widgetAs<QLabel>(key)->setText(key + QStringLiteral(" typed"));
            old.insert(key, list.widget(key));
        }
        made = 0;
        list.setKeys(after);
        QCOMPARE(made, built);
        QStringList shown;
        for (int i = 0; i < list.layout()->count(); ++i)
            shown << list.layout()->itemAt(i)->widget()->property("text").toString().section(u' ', 0, 0);
        QCOMPARE(shown, after);
        for (auto it = old.cbegin(); it != old.cend(); ++it) {
            if (after.contains(it.key())) {
                QCOMPARE(list.widget(it.key()), it.value().data());
                QCOMPARE(list.widgetAs<QLabel>(it.key())->text(), it.key() + QStringLiteral(" typed"));
            } else {
                QTRY_VERIFY(it.value().isNull()); // deleted once control is back in the event loop
            }
        }
    }
    // In a scroll area only what is within a screen of the view is built; scrolling builds the rest in turn,
    // and a built widget keeps what was typed into it whatever moves around it.
    void buildsWhatComesIntoView()
    {
        QScrollArea scroll;
        scroll.setWidgetResizable(true);
        scroll.resize(300, 200);
        int made = 0;
        auto* list = new KeyedWidgetList([&made](const QString& key) {
            ++made;
            auto* label = new QLabel(key);
            label->setFixedHeight(100);
            return label;
        });
        scroll.setWidget(list);
        list->buildWhenInView(&scroll);
        QStringList keys;
        for (int i = 0; i < 60; ++i)
            keys << QString::number(i);
        list->setKeys(keys);
        QCOMPARE(made, 0); // nothing is built for a list nobody sees
        scroll.show();
        QVERIFY(QTest::qWaitForWindowExposed(&scroll));
        QVERIFY(made >= 2 && made <= 12);
        QVERIFY(list->widget(QStringLiteral("0")) && !list->widget(QStringLiteral("59")));
        list->widgetAs<QLabel>(QStringLiteral("0"))->setText(QStringLiteral("typed"));
        scroll.verticalScrollBar()->setValue(scroll.verticalScrollBar()->maximum());
        QTRY_VERIFY(list->widget(QStringLiteral("59")));
        QVERIFY(made < 60);
        keys.prepend(QStringLiteral("new"));
        keys.removeAll(QStringLiteral("30"));
        list->setKeys(keys);
        QCOMPARE(list->widgetAs<QLabel>(QStringLiteral("0"))->text(), QStringLiteral("typed"));
        QCOMPARE(list->layout()->count(), 60);
        for (int i = 0; i < keys.size(); ++i)
            if (QWidget* built = list->widget(keys[i]))
                QCOMPARE(list->layout()->itemAt(i)->widget(), built);
    }
};

QTEST_MAIN(KeyedWidgetListTest)
#include "KeyedWidgetListTest.moc"
