// The status-lamp button: lamp icons from the resources, switching, what a grab of the widget
// shows, the shaded face, the caption, and that a click changes nothing.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include "widgets/qt_test_app.h"
#include "widgets/resources.h"
#include "widgets/shade_button.h"

namespace pellory::widgets {
namespace {

const QRgb kDark = qRgb(0, 128, 0);
const QRgb kLit = qRgb(0, 255, 0);

QRgb IconCentre(const CIconButton& button) {
    const QImage icon = button.IconPixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    return icon.pixel(icon.width() / 2, icon.height() / 2);
}

int CountPixels(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += (image.pixel(x, y) | 0xFF000000u) == colour && qAlpha(image.pixel(x, y)) == 255;
        }
    }
    return n;
}

QImage Grab(CIconButton& button) {
    return button.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST(ShadeButton, StartsDarkAndSwitchesBetweenTheLampIcons) {
    CShadeButton lamp(QStringLiteral("Over Heat"));
    EXPECT_FALSE(lamp.IsLit());
    ASSERT_FALSE(lamp.IconPixmap().isNull());
    EXPECT_EQ(lamp.IconPixmap().size(), QSize(kLampIconSize, kLampIconSize));
    EXPECT_EQ(IconCentre(lamp), kDark);

    lamp.SetLamp(true);
    EXPECT_TRUE(lamp.IsLit());
    EXPECT_EQ(lamp.IconPixmap().size(), QSize(kLampIconSize, kLampIconSize));
    EXPECT_EQ(IconCentre(lamp), kLit);

    lamp.SetLamp(true);  // setting the same state again keeps it
    EXPECT_TRUE(lamp.IsLit());
    EXPECT_EQ(IconCentre(lamp), kLit);

    lamp.SetLamp(false);
    EXPECT_FALSE(lamp.IsLit());
    EXPECT_EQ(IconCentre(lamp), kDark);
    EXPECT_EQ(lamp.text(), QStringLiteral("Over Heat"));
}

TEST(ShadeButton, GrabShowsTheLitColourOnlyWhenLit) {
    CShadeButton lamp(QStringLiteral("Online"));
    lamp.resize(120, 26);

    const QImage dark = Grab(lamp);
    EXPECT_EQ(CountPixels(dark, kLit), 0);
    EXPECT_GT(CountPixels(dark, kDark), 100);

    lamp.SetLamp(true);
    const QImage lit = Grab(lamp);
    EXPECT_GT(CountPixels(lit, kLit), 100);
    EXPECT_EQ(CountPixels(lit, kDark), 0);

    // The lamp sits at the left, vertically centred.
    EXPECT_EQ(lit.pixel(CIconButton::kMargin + kLampIconSize / 2, 13), kLit);

    lamp.SetLamp(false);
    EXPECT_EQ(CountPixels(Grab(lamp), kLit), 0);
}

TEST(ShadeButton, FaceIsShadedTopToBottomAndSinksWhenPressed) {
    CShadeButton lamp;  // no caption: the face right of the lamp is only shading
    lamp.resize(100, 40);
    const QImage up = Grab(lamp);
    const int x = 80;
    const int topGrey = qGray(up.pixel(x, 3));
    const int bottomGrey = qGray(up.pixel(x, 36));
    EXPECT_GT(topGrey, bottomGrey);
    // A gradient, not two bands: the middle lies between.
    const int middleGrey = qGray(up.pixel(x, 20));
    EXPECT_LE(middleGrey, topGrey);
    EXPECT_GE(middleGrey, bottomGrey);
    // A dark frame around the face.
    EXPECT_LT(qGray(up.pixel(0, 20)), bottomGrey);
    EXPECT_LT(qGray(up.pixel(99, 20)), bottomGrey);

    lamp.setDown(true);
    const QImage down = Grab(lamp);
    EXPECT_LT(qGray(down.pixel(x, 3)), qGray(down.pixel(x, 36)));

    // Explicit shade colours are used as given.
    lamp.setDown(false);
    lamp.SetShade(QColor(250, 250, 250), QColor(90, 90, 90));
    const QImage custom = Grab(lamp);
    EXPECT_GT(qGray(custom.pixel(x, 3)), 230);
    EXPECT_LT(qGray(custom.pixel(x, 37)), 110);
    lamp.SetShade(QColor(), QColor());
    EXPECT_EQ(lamp.ShadeTop(), lamp.palette().color(QPalette::Button).lighter(135));
}

TEST(ShadeButton, CaptionIsKeptAndDrawnBesideTheLamp) {
    CShadeButton blank;
    CShadeButton named(QStringLiteral("Paper Error"));
    EXPECT_EQ(named.text(), QStringLiteral("Paper Error"));
    EXPECT_GT(named.sizeHint().width(), blank.sizeHint().width() + 30);
    EXPECT_GE(named.sizeHint().height(), kLampIconSize + 2 * CIconButton::kMargin);

    blank.resize(140, 26);
    named.resize(140, 26);
    const QImage a = Grab(blank);
    const QImage b = Grab(named);
    // The lamps look alike; the captions differ only right of the lamp.
    const int lampRight = CIconButton::kMargin + kLampIconSize;
    int differLeft = 0;
    int differRight = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                (x < lampRight ? differLeft : differRight)++;
            }
        }
    }
    EXPECT_EQ(differLeft, 0);
    EXPECT_GT(differRight, 20);

    named.setText(QStringLiteral("Cutter Error"));
    EXPECT_EQ(named.text(), QStringLiteral("Cutter Error"));
    EXPECT_FALSE(named.IsLit());
}

TEST(ShadeButton, ClickEmitsTheSignalAndLeavesTheLampAlone) {
    CShadeButton lamp(QStringLiteral("Platen Open"));
    int clicks = 0;
    QObject::connect(&lamp, &QAbstractButton::clicked, [&clicks] { ++clicks; });
    lamp.click();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(lamp.IsLit());
    lamp.SetLamp(true);
    lamp.click();
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(lamp.IsLit());
    EXPECT_EQ(IconCentre(lamp), kLit);
}

TEST(IconButton, ShowsAnIconFromAPathOrNone) {
    CIconButton button(QStringLiteral("Icon"));
    EXPECT_TRUE(button.IconPixmap().isNull());
    const int bareWidth = button.sizeHint().width();

    EXPECT_TRUE(button.SetIconPath(QString::fromLatin1(kIconProgram)));
    EXPECT_EQ(button.IconPixmap().size(), QSize(32, 32));
    EXPECT_GE(button.sizeHint().height(), 32);
    EXPECT_GE(button.sizeHint().width(), bareWidth + 32);

    EXPECT_FALSE(button.SetIconPath(QStringLiteral(":/no/such/picture.png")));
    EXPECT_TRUE(button.IconPixmap().isNull());
    EXPECT_EQ(button.sizeHint().width(), bareWidth);

    EXPECT_FALSE(button.SetIconPath(QString()));
    EXPECT_TRUE(button.IconPixmap().isNull());

    // A plain face: no gradient between top and bottom.
    button.resize(100, 30);
    const QImage face = Grab(button);
    EXPECT_EQ(face.pixel(80, 4), face.pixel(80, 25));
}

}  // namespace
}  // namespace pellory::widgets
