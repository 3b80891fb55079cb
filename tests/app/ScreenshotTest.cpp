#include "AppTestSupport.h"
#include "WindowFixture.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <functional>

namespace {

// How many pixels of the widget its text changes: none when no font on this
// machine could draw it.
int textPixels(QWidget *widget, const std::function<void(bool)> &showText)
{
    const QImage with = widget->grab().toImage();
    showText(false);
    const QImage without = widget->grab().toImage();
    showText(true);
    if (with.size() != without.size())
        return -1;
    int changed = 0;
    for (int y = 0; y < with.height(); ++y)
        for (int x = 0; x < with.width(); ++x)
            changed += with.pixel(x, y) != without.pixel(x, y);
    return changed;
}

// Whether the widget's font has a glyph for every character of text, rather
// than the empty boxes drawn for missing ones.
bool fontCovers(const QWidget *widget, const QString &text)
{
    const QFontMetrics metrics = widget->fontMetrics();
    for (const QChar c : text)
        if (!c.isSpace() && !metrics.inFont(c))
            return false;
    return true;
}

// Whether the widget's text has the room it needs at the font it is drawn with.
bool textFits(QWidget *widget)
{
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        const QSize needed = label->fontMetrics().size(Qt::TextSingleLine, label->text());
        return needed.width() <= label->contentsRect().width() && needed.height() <= label->contentsRect().height();
    }
    if (auto *button = qobject_cast<QPushButton *>(widget))
        return button->sizeHint().width() <= button->width() && button->sizeHint().height() <= button->height();
    if (auto *combo = qobject_cast<QComboBox *>(widget)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        const QRect field =
            combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
        return combo->fontMetrics().horizontalAdvance(combo->currentText()) <= field.width();
    }
    // Multi-line boxes wrap whatever they hold; a group box's title has
    // several times the room it takes.
    return true;
}

} // namespace

// The window as this machine draws it, with the fonts it has: every text is
// drawn and fits its control, where a missing or a wider font would leave
// blanks or cut words off. With $QV58_SCREENSHOT_DIR set the picture is also
// written there, for a person to look at.
using ScreenshotTest = WindowFixture;

TEST_F(ScreenshotTest, EveryTextIsDrawnAndFitsItsControl)
{
    auto *versions = child<QComboBox>("cmbVersions");
    versions->addItems({QStringLiteral("V2.05"), QStringLiteral("V2.04")});
    child<QPlainTextEdit>("txtDescript")
        ->setPlainText(QStringLiteral("Fixes the target power switch and speeds up flash downloads on "
                                      "long SWD cables."));
    window->setUpgradeFileName(QStringLiteral("qv58link_v205.dat"));
    window->addLog(QStringLiteral("Downloading qv58link_v205.dat"), false);
    window->addLog(QStringLiteral("Model: QV58-LINK  Interface: V2.04  Bootloader: V1.10"), false);
    window->show();
    runUntilIdle();

    const QString folder = qEnvironmentVariable("QV58_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString path = QDir(folder).absoluteFilePath(QStringLiteral("wMain.png"));
        ASSERT_TRUE(window->grab().save(path)) << path.toStdString();
        std::printf("window picture: %s\n", qPrintable(QDir::cleanPath(path)));
    }

    // Each control with its text shown or taken away, by the property that holds it.
    const struct
    {
        const char *name;
        const char *property;
    } controls[] = {
        {"GroupBox1", "title"},   {"Label2", "text"},    {"Label3", "text"},     {"txtDescript", "plainText"},
        {"cxButton2", "text"},    {"GroupBox2", "title"}, {"logs", "plainText"}, {"cxButton1", "text"},
    };
    for (const auto &c : controls) {
        SCOPED_TRACE(c.name);
        QWidget *widget = child<QWidget>(c.name);
        ASSERT_NE(widget, nullptr);
        const QVariant text = widget->property(c.property);
        ASSERT_FALSE(text.toString().trimmed().isEmpty());
        EXPECT_TRUE(fontCovers(widget, text.toString())) << widget->font().family().toStdString();
        EXPECT_TRUE(textFits(widget));
        // Far more than stray pixels: a word or more.
        EXPECT_GT(textPixels(widget, [&](bool shown) { widget->setProperty(c.property, shown ? text : QString()); }),
                  30);
    }
    SCOPED_TRACE("cmbVersions");
    EXPECT_TRUE(fontCovers(versions, versions->currentText()));
    EXPECT_TRUE(textFits(versions));
    EXPECT_GT(textPixels(versions,
                         [&](bool shown) { versions->setItemText(0, shown ? QStringLiteral("V2.05") : QString()); }),
              30);
}
