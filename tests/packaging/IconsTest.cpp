#include "app/ActionImages.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

struct TPixelCounts
{
    int opaque = 0;
    int soft = 0; // clearly neither opaque nor transparent: blurred edges
};

TPixelCounts countPixels(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    TPixelCounts counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(image.pixel(x, y));
            counts.opaque += alpha == 255;
            counts.soft += alpha > 32 && alpha < 224;
        }
    return counts;
}

const char *const ImageNames[] = {"upgrade", "refresh"};

} // namespace

TEST(ActionImagesTest, TwoImagesOfSixteenLogicalPixelsAtEveryPixelRatio)
{
    for (qreal ratio : {1.0, 1.5, 2.0, 3.0}) {
        const QList<QPixmap> images = makeActionImages(ratio);
        ASSERT_EQ(images.size(), 2);
        for (int i = 0; i < images.size(); ++i) {
            SCOPED_TRACE(testing::Message() << ImageNames[i] << " at " << ratio << "x");
            const QPixmap &image = images[i];
            EXPECT_EQ(image.devicePixelRatio(), ratio);
            EXPECT_EQ(image.deviceIndependentSize(), QSizeF(16, 16));
            EXPECT_EQ(image.size(), QSize(qRound(16 * ratio), qRound(16 * ratio)));
            EXPECT_TRUE(image.hasAlphaChannel());
            // A picture, not an empty or a filled square.
            const TPixelCounts counts = countPixels(image.toImage());
            const int area = image.width() * image.height();
            EXPECT_GT(counts.opaque, area / 10);
            EXPECT_LT(counts.opaque + counts.soft, area * 3 / 4);
        }
    }
}

TEST(ActionImagesTest, AnUnusableRatioFallsBackToOne)
{
    for (qreal ratio : {0.0, -2.0, 0.5, qQNaN()}) {
        SCOPED_TRACE(ratio);
        for (const QPixmap &image : makeActionImages(ratio)) {
            EXPECT_EQ(image.devicePixelRatio(), 1.0);
            EXPECT_EQ(image.size(), QSize(16, 16));
        }
    }
}

// The test runs at twice the size (QT_SCALE_FACTOR=2): at 1x the
// application's ratio could not be told from the fallback.
TEST(ActionImagesTest, WithoutARatioTheApplicationsIsUsed)
{
    const qreal ratio = qApp->devicePixelRatio();
    ASSERT_EQ(ratio, 2.0) << "run with QT_SCALE_FACTOR=2";
    for (const QPixmap &image : makeActionImages()) {
        EXPECT_EQ(image.devicePixelRatio(), ratio);
        EXPECT_EQ(image.size(), QSize(32, 32));
    }
}

// Sharp: straight edges fall on whole pixels at 1x, and 2x is drawn at 2x
// rather than enlarged from the 1x picture, which would blur every edge.
TEST(ActionImagesTest, SharpAtOneAndTwoTimes)
{
    const QList<QPixmap> single = makeActionImages(1.0);
    const QList<QPixmap> doubled = makeActionImages(2.0);
    // The refresh picture is a ring: its quarter turns cannot avoid soft pixels.
    const double softShareAtOne[] = {0.25, 1.25};
    for (int i = 0; i < single.size(); ++i) {
        SCOPED_TRACE(ImageNames[i]);
        const TPixelCounts one = countPixels(single[i].toImage());
        EXPECT_LE(one.soft, softShareAtOne[i] * one.opaque) << one.soft << " soft, " << one.opaque << " opaque";

        const QImage enlarged = single[i].toImage().scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const TPixelCounts blurred = countPixels(enlarged);
        const TPixelCounts two = countPixels(doubled[i].toImage());
        EXPECT_LT(two.soft, blurred.soft / 2) << two.soft << " soft against " << blurred.soft << " when enlarged";
    }
}

TEST(ApplicationIconTest, OffersEveryThemeSizeDrawnAtThatSize)
{
    const QIcon icon = makeApplicationIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (int size : {16, 32, 48, 256}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(sizes.contains(QSize(size, size)));
        const QImage drawn = icon.pixmap(QSize(size, size), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(drawn, renderApplicationIcon(size).convertToFormat(QImage::Format_ARGB32));
        const TPixelCounts counts = countPixels(drawn);
        EXPECT_GT(counts.opaque, size * size / 2);
        // Drawn on the pixel grid: only corners and the arrow's slopes are soft.
        EXPECT_LT(counts.soft, size * size / 10);
    }
}

// On a screen at twice the size the window's icon is the picture drawn for
// the doubled size, not the small one enlarged.
TEST(ApplicationIconTest, AtTwiceTheSizeTheLargerPictureIsTaken)
{
    ASSERT_EQ(qApp->devicePixelRatio(), 2.0) << "run with QT_SCALE_FACTOR=2";
    const QIcon icon = makeApplicationIcon();
    for (int size : {16, 24}) {
        SCOPED_TRACE(size);
        const QPixmap shown = icon.pixmap(size, size);
        EXPECT_EQ(shown.devicePixelRatio(), 2.0);
        EXPECT_EQ(shown.deviceIndependentSize(), QSizeF(size, size));
    }
    EXPECT_EQ(icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32),
              renderApplicationIcon(32).convertToFormat(QImage::Format_ARGB32));
}

#ifdef QV58_ICON_DIR
// The theme's PNG files are made by the build from the same source: a stale or
// other picture in the package would show a different icon in the menu than on
// the window.
TEST(ApplicationIconTest, ThemeFilesMatchTheWindowsIcon)
{
    for (int size : {16, 32, 48, 256}) {
        SCOPED_TRACE(size);
        const QString path = QStringLiteral(QV58_ICON_DIR "/%1x%1/" QV58_APP_ID ".png").arg(size);
        QImage installed;
        ASSERT_TRUE(installed.load(path)) << path.toStdString();
        EXPECT_EQ(installed.size(), QSize(size, size));
        EXPECT_EQ(installed.convertToFormat(QImage::Format_ARGB32),
                  renderApplicationIcon(size).convertToFormat(QImage::Format_ARGB32));
    }
}
#endif
