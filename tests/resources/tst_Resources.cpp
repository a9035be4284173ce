#include <QImageReader>
#include <QtTest>

// Every picture the windows use is compiled in under its name and loads at a sensible size;
// icon files carry small and large frames.
class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); } // they live in the static ui library

    void everyNameLoads_data()
    {
        QTest::addColumn<QString>("name");
        const QStringList names =
            QString("BG.png tavio_ziti.png yyzslogo128.png yyzslogo156.png yyzslogo384.png ic_zuixiaohua.png "
                    "ic_guanbi.png ic_zuixiaohua_fx.png ic_guanbi_fx.png panel_min_hover.png "
                    "panel_close_hover.png ic_gengduo.png ic_jingyin.png ic_jingyinzhong.png yyzslogo.ico "
                    "yyzslogo128.ico yyzslogo156.ico yyzslogo384.ico")
                .split(' ');
        QCOMPARE(QDir(":/").entryList(QDir::Files).size(), names.size()); // and nothing else
        for (const QString& name : names)
            QTest::newRow(qPrintable(name)) << name;
    }

    void everyNameLoads()
    {
        QFETCH(QString, name);
        QImageReader reader(":/" + name);
        const QSize size = reader.read().size();
        QVERIFY(size.width() >= 16 && size.height() >= 16 && size.width() <= 384 && size.height() <= 384);
        if (!name.endsWith(".ico"))
            return;
        QSet<int> sides;
        for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i)
            sides.insert(reader.read().width());
        QVERIFY(sides.contains(16) && sides.contains(32) &&
                *std::max_element(sides.begin(), sides.end()) >= 128);
    }
};

QTEST_MAIN(TestResources)
#include "tst_Resources.moc"
