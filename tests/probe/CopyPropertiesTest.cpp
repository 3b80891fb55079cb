#include "DetailsTestSupport.h"

#include "probe/CopyProperties.h"
#include "probe/QV58LinkConfigFile.h"

#include <QMetaProperty>
#include <QObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Pairs with TTarget so that one property of each kind meets its counterpart:
// same name and type, another name, another type, a target it cannot write.
class TSource : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool beep MEMBER beep)
    Q_PROPERTY(QString HICID MEMBER HICID)
    Q_PROPERTY(QString Mode MEMBER Mode)
    Q_PROPERTY(int voltageOutput MEMBER voltageOutput)
    Q_PROPERTY(QByteArray bootVersion MEMBER bootVersion)
    Q_PROPERTY(QString appVersion MEMBER appVersion)
    Q_PROPERTY(QString onlyHere MEMBER onlyHere)

public:
    bool beep = true;
    QString HICID = QStringLiteral("51563270");
    QString Mode = QStringLiteral("Bootloader");
    int voltageOutput = 2;
    QByteArray bootVersion = "V9.9";
    QString appVersion = QStringLiteral("V2.0");
    QString onlyHere = QStringLiteral("x");
};

class TTarget : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool beep MEMBER beep)
    Q_PROPERTY(QString HICID MEMBER HICID)
    Q_PROPERTY(QString mode MEMBER mode)
    Q_PROPERTY(TVoltageOutput voltageOutput MEMBER voltageOutput)
    Q_PROPERTY(QString bootVersion MEMBER bootVersion)
    Q_PROPERTY(QString appVersion READ appVersionValue)

public:
    QString appVersionValue() const { return appVersion; }

    bool beep = false;
    QString HICID;
    QString mode = QStringLiteral("kept");
    TVoltageOutput voltageOutput = vo33V;
    QString bootVersion = QStringLiteral("kept");
    QString appVersion = QStringLiteral("kept");
};

} // namespace

TEST(CopyProperties, CopiesOnlySameNameSameTypeWritable)
{
    TSource source;
    TTarget target;
    source.setObjectName(QStringLiteral("parser"));
    target.setObjectName(QStringLiteral("record"));

    copyProperties(source, target);

    EXPECT_TRUE(target.beep);
    EXPECT_EQ(target.HICID, QStringLiteral("51563270"));
    EXPECT_EQ(target.mode, QStringLiteral("kept")) << "names are matched with their case";
    EXPECT_EQ(target.voltageOutput, vo33V) << "int is not TVoltageOutput";
    EXPECT_EQ(target.bootVersion, QStringLiteral("kept")) << "QByteArray is not QString, though convertible";
    EXPECT_EQ(target.appVersion, QStringLiteral("kept")) << "read-only target";
    EXPECT_EQ(target.objectName(), QStringLiteral("record"));
}

TEST(CopyProperties, ParserReplacesTheWholeRecord)
{
    TQV58LinkConfig record;
    record.setBeep(true);
    record.setVoltageOutput(vo5V);
    record.setHICID(QStringLiteral("old"));
    record.setMode(QStringLiteral("old"));
    record.setAppVersion(QStringLiteral("old"));
    record.setBootVersion(QStringLiteral("old"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("DETAILS.txt"));
    writeWholeFile(path, "Target Power output: 3.3V\nHIC ID: 51560059\n");
    copyProperties(TQV58LinkConfigFile(path), record);

    EXPECT_EQ(detailsOf(record), (TDetails{false, vo33V, "51560059", "", "", ""}));
}

TEST(CopyProperties, BothClassesDescribeTheSixPropertiesInOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("DETAILS.txt"));
    writeWholeFile(path, "");
    const TQV58LinkConfig record;
    const TQV58LinkConfigFile parser(path);
    for (const QObject *object : {static_cast<const QObject *>(&record), static_cast<const QObject *>(&parser)}) {
        const QMetaObject *meta = object->metaObject();
        SCOPED_TRACE(meta->className());
        const int first = QObject::staticMetaObject.propertyCount();
        ASSERT_EQ(meta->propertyCount() - first, 6);
        const char *expected[][2] = {{"beep", "bool"},         {"voltageOutput", "TVoltageOutput"},
                                     {"HICID", "QString"},     {"mode", "QString"},
                                     {"appVersion", "QString"}, {"bootVersion", "QString"}};
        for (int i = 0; i < 6; ++i) {
            const QMetaProperty property = meta->property(first + i);
            EXPECT_STREQ(property.name(), expected[i][0]);
            EXPECT_STREQ(property.typeName(), expected[i][1]);
            EXPECT_TRUE(property.isReadable() && property.isWritable());
        }
    }
}

#include "CopyPropertiesTest.moc"
