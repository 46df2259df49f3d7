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

    // Only **bold** and `code` runs become markup; everything else, tags included, stays as written.
    void markupKeepsEverythingElseLiteral_data()
    {
        QTest::addColumn<QString>("marked");
        QTest::addColumn<QString>("html");
        QTest::newRow("bold and code") << "登录**同一个账号**，敲 `ssh qx-a`" << "登录<b>同一个账号</b>，敲 <code>ssh qx-a</code>";
        QTest::newRow("tags escaped") << "<i>x</i> & **<b>**" << "&lt;i&gt;x&lt;/i&gt; &amp; <b>&lt;b&gt;</b>";
        QTest::newRow("open marker") << "a ** b ` c" << "a ** b ` c";
        QTest::newRow("lines and blanks") << "a  b\n`c`" << "a  b<br><code>c</code>";
    }
    void markupKeepsEverythingElseLiteral()
    {
        QFETCH(QString, marked);
        QFETCH(QString, html);
        html.replace(QStringLiteral("<code>"), QStringLiteral("<code style=\"background-color:rgba(128,128,128,40)\">"));
        QCOMPARE(StatusLabel::markupHtml(marked), QStringLiteral("<span style=\"white-space:pre-wrap\">") + html
                 + QStringLiteral("</span>"));
    }
};

QTEST_MAIN(StatusLabelTest)
#include "StatusLabelTest.moc"
