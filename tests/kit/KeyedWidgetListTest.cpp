#include "ui/kit/KeyedWidgetList.h"

#include <QLabel>
#include <QLayout>
#include <QPointer>
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
};

QTEST_MAIN(KeyedWidgetListTest)
#include "KeyedWidgetListTest.moc"
