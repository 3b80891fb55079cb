// The Windows build carries the window's pictures as PNG renderings and the
// program icon as an .ico, since it has no SVG renderer. They must be exactly
// what the SVG sources draw; after changing a picture, regenerate them with
//   build/data/qv58_render_windows_images app/icons/rendered
#include "app/ActionImages.h"
#include "data/IconFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <gtest/gtest.h>

namespace {

const QDir RenderedDir(QStringLiteral(QV58_SOURCE_DIR "/app/icons/rendered"));

QByteArray readCommitted(const QString &fileName)
{
    QFile file(RenderedDir.filePath(fileName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray pngOf(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QImage square(int side, QColor colour)
{
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

quint32 le32(const QByteArray &bytes, int at)
{
    return quint32(quint8(bytes[at])) | quint32(quint8(bytes[at + 1])) << 8 | quint32(quint8(bytes[at + 2])) << 16 |
           quint32(quint8(bytes[at + 3])) << 24;
}

} // namespace

TEST(RenderedImagesTest, EveryRenderingMatchesItsSourcePixelForPixel)
{
    QStringList expected;
    for (const QString &name : pictureNames())
        for (int size : renderedPictureSizes(name)) {
            const QString fileName = renderedPictureFileName(name, size);
            SCOPED_TRACE(fileName.toStdString());
            expected << fileName;
            const QImage committed = QImage::fromData(readCommitted(fileName), "PNG");
            ASSERT_FALSE(committed.isNull()) << "missing or unreadable: regenerate the renderings";
            EXPECT_EQ(committed.convertToFormat(QImage::Format_ARGB32),
                      renderPicture(name, size).convertToFormat(QImage::Format_ARGB32))
                << "stale: regenerate the renderings";
        }
    // Nothing left over from a picture or size no longer drawn.
    QStringList present = RenderedDir.entryList({QStringLiteral("*.png")}, QDir::Files);
    present.sort();
    expected.sort();
    EXPECT_EQ(present, expected);
}

TEST(RenderedImagesTest, TheProgramIconHoldsTheCommittedRenderings)
{
    QList<QByteArray> pngs;
    for (int size : windowsIconSizes())
        pngs << readCommitted(renderedPictureFileName(ApplicationIconName, size));
    const QByteArray ico = readCommitted(ApplicationIconName + QStringLiteral(".ico"));
    ASSERT_FALSE(ico.isEmpty());
    EXPECT_EQ(ico, iconFileFromPngs(pngs));

    // Every size reads back through an independent reader.
    QBuffer buffer;
    buffer.setData(ico);
    QImageReader reader(&buffer, "ico");
    ASSERT_EQ(reader.imageCount(), windowsIconSizes().size());
    QList<int> sides;
    for (int i = 0; i < reader.imageCount(); ++i) {
        ASSERT_TRUE(reader.jumpToImage(i));
        sides << reader.read().width();
    }
    EXPECT_EQ(sides, windowsIconSizes());
}

TEST(IconFileTest, LaysOutTheDirectoryAndRefusesWhatAnIconCannotHold)
{
    const QByteArray small = pngOf(square(16, Qt::red));
    const QByteArray large = pngOf(square(256, Qt::blue));
    const QByteArray ico = iconFileFromPngs({small, large});
    ASSERT_EQ(ico.size(), 6 + 2 * 16 + small.size() + large.size());
    EXPECT_EQ(ico.left(6), QByteArray::fromHex("000001000200"));
    EXPECT_EQ(quint8(ico[6]), 16);
    EXPECT_EQ(quint8(ico[6 + 16]), 0) << "a side of 256 is written as 0";
    EXPECT_EQ(le32(ico, 6 + 8), quint32(small.size()));
    EXPECT_EQ(ico.mid(le32(ico, 6 + 12), small.size()), small);
    EXPECT_EQ(ico.mid(le32(ico, 6 + 16 + 12), large.size()), large);

    struct TCase
    {
        const char *what;
        QByteArray png;
    };
    const TCase refused[] = {
        {"not square", pngOf(QImage(16, 24, QImage::Format_ARGB32))},
        {"larger than 256", pngOf(square(512, Qt::green))},
        {"not a PNG", QByteArray("BM not a picture")},
    };
    for (const TCase &c : refused) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(iconFileFromPngs({small, c.png}).isEmpty());
    }
}
