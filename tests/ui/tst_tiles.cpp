// The status tiles: geometry and colours read back from rendered pixels,
// setter clamps and the blink step.
#include <QImage>
#include <QLabel>
#include <QtTest>

#include "monitor/ui/Tiles.h"

using namespace kestrel;

namespace {
QImage Render(QWidget& w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}
QColor At(const QImage& img, int x, int y) { return QColor(img.pixel(x, y)); }
// Centre of the circle whose bounding square starts at (x, row).
QPoint Centre(int x, int row, int d) { return {x + d / 2, row + d / 2}; }
}  // namespace

class TilesTest : public QObject {
    Q_OBJECT
private slots:
    void geometryOfTheDefaultTile();
    void geometryGrowsWithTheTile_data();
    void geometryGrowsWithTheTile();
    void uirCirclesSitWhereThePaintingPutsThem();
    void uirColoursByStatus_data();
    void uirColoursByStatus();
    void uirPowerStatusFourHidesOnlyTheCircle();
    void cbColoursByStatus_data();
    void cbColoursByStatus();
    void settersClampOutOfRangeValues();
    void numbersAreClamped();
    void blinkAlternatesSilverAndRed();
    void blinkKeepsPhaseWhenLeavingStatusThree();
    void frameIsDarkAndTwoPixelsWide();
};

void TilesTest::geometryOfTheDefaultTile()
{
    const TTileGeometry g = TTileGeometry::For(115, 72);
    QCOMPARE(g.D, 14);
    QCOMPARE(g.Y0, 21);
    QCOMPARE(g.Y1, 37);
    QCOMPARE(g.Y2, 53);
    QCOMPARE(g.TextSize, 8);
    QCOMPARE(g.BoxWidth, 23);
    QCOMPARE(g.BoxHeight, 15);
    QCOMPARE(g.BoxLeft, 87);
    QCOMPARE(g.BoxTop, 2);

    TUir uir;
    QCOMPARE(uir.size(), QSize(115, 72));
    QCOMPARE(uir.NumberBox()->geometry(), QRect(87, 2, 23, 15));
    QCOMPARE(uir.NumberBox()->font().pointSize(), 8);
    TCB cb;
    QCOMPARE(cb.size(), QSize(115, 72));
    QCOMPARE(cb.NumberBox()->geometry(), QRect(87, 2, 23, 15));
    QCOMPARE(cb.TitleBox()->geometry(), QRect(87, 2, 23, 15));
    QCOMPARE(cb.TitleBox()->text(), QStringLiteral("ЦБ - Ж7"));
}

void TilesTest::geometryGrowsWithTheTile_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("d");
    QTest::addColumn<int>("y0");
    QTest::addColumn<int>("y2");
    QTest::addColumn<int>("text");
    QTest::addColumn<int>("boxH");
    QTest::addRow("120x77") << 120 << 77 << 15 << 21 << 57 << 8 << 15;
    QTest::addRow("135x92: W/15 = 9") << 135 << 92 << 18 << 24 << 69 << 9 << 18;
    QTest::addRow("180x130: W/15 = 12") << 180 << 130 << 26 << 24 << 99 << 12 << 25;
    QTest::addRow("195x140: W/15 = 13") << 195 << 140 << 28 << 28 << 107 << 12 << 25;
    QTest::addRow("60x40: small") << 60 << 40 << 8 << 21 << 27 << 8 << 15;
}

void TilesTest::geometryGrowsWithTheTile()
{
    QFETCH(int, w);
    QFETCH(int, h);
    const TTileGeometry g = TTileGeometry::For(w, h);
    QTEST(g.D, "d");
    QTEST(g.Y0, "y0");
    QTEST(g.Y2, "y2");
    QCOMPARE(g.Y1, g.Y0 + (g.Y2 - g.Y0) / 2);
    QTEST(g.TextSize, "text");
    QTEST(g.BoxHeight, "boxH");
    QCOMPARE(g.BoxWidth, w / 5);
    QCOMPARE(g.BoxLeft, w - w / 5 - 5);

    TUir uir;
    uir.resize(w, h);
    Render(uir);
    QCOMPARE(uir.NumberBox()->geometry(), QRect(w - w / 5 - 5, 2, w / 5, g.BoxHeight));
}

void TilesTest::uirCirclesSitWhereThePaintingPutsThem()
{
    TUir t;
    t.SetChStatus_3(2);        // red at the top row
    t.SetChStatus_2(1);        // white in the middle
    t.SetChStatus_1(0);        // silver at the bottom
    t.SetCentrBlockStatus(2);  // magenta, right column, top row
    t.SetPowerStatus(2);       // lime, right column, bottom row, 7 px left of the middle
    const QImage img = Render(t);
    const int d = 14;
    QCOMPARE(At(img, Centre(4, 21, d).x(), Centre(4, 21, d).y()), TTileBase::Red);
    QCOMPARE(At(img, Centre(4, 37, d).x(), Centre(4, 37, d).y()), TTileBase::White);
    QCOMPARE(At(img, Centre(4, 53, d).x(), Centre(4, 53, d).y()), TTileBase::Silver);
    QCOMPARE(At(img, Centre(57, 21, d).x(), Centre(57, 21, d).y()), TTileBase::Magenta);
    QCOMPARE(At(img, Centre(50, 53, d).x(), Centre(50, 53, d).y()), TTileBase::Lime);

    // The outline is black and the bounding square is d pixels wide:
    // leftmost column x = 4, rightmost x = 4 + d - 1, nothing at x = 4 + d.
    const QColor face = QColor(t.palette().color(QPalette::Button).rgb());
    QCOMPARE(At(img, 4, 21 + d / 2), QColor(Qt::black));
    QCOMPARE(At(img, 4 + d - 1, 21 + d / 2), QColor(Qt::black));
    QCOMPARE(At(img, 3, 21 + d / 2), face);
    QCOMPARE(At(img, 4 + d, 21 + d / 2), face);
    QCOMPARE(At(img, 4 + d / 2, 21), QColor(Qt::black));
    QCOMPARE(At(img, 4 + d / 2, 21 + d - 1), QColor(Qt::black));
    QCOMPARE(At(img, 4 + d / 2, 21 - 1), face);
}

void TilesTest::uirColoursByStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QColor>("input");
    QTest::addColumn<QColor>("link");
    QTest::addColumn<QColor>("power");
    QTest::addRow("0") << 0 << TTileBase::Silver << TTileBase::Silver << TTileBase::Silver;
    QTest::addRow("1") << 1 << TTileBase::White << TTileBase::White << TTileBase::White;
    QTest::addRow("2") << 2 << TTileBase::Red << TTileBase::Magenta << TTileBase::Lime;
    QTest::addRow("3") << 3 << TTileBase::Red << TTileBase::Silver << TTileBase::Red;
}

void TilesTest::uirColoursByStatus()
{
    QFETCH(int, status);
    TUir t;
    for (int n = 1; n <= 3; ++n)
        t.SetChStatus(n, status);
    t.SetCentrBlockStatus(status);
    t.SetPowerStatus(status);
    const QImage img = Render(t);
    QTEST(At(img, 11, 28), "input");  // input 3
    QTEST(At(img, 11, 44), "input");  // input 2
    QTEST(At(img, 11, 60), "input");  // input 1
    QTEST(At(img, 64, 28), "link");
    QTEST(At(img, 57, 60), "power");
}

void TilesTest::uirPowerStatusFourHidesOnlyTheCircle()
{
    TUir t;
    t.SetPowerStatus(4);
    QCOMPARE(t.PowerStatus(), 4);
    t.SetPowerName(QStringLiteral("Вых Д"));
    const QImage img = Render(t);
    const QColor face = QColor(t.palette().color(QPalette::Button).rgb());
    for (int x = 50; x < 64; ++x)
        QCOMPARE(At(img, x, 60), face);
    // The caption is still drawn to the right of where the circle would be.
    int ink = 0;
    for (int y = 55; y < 70; ++y)
        for (int x = 65; x < 110; ++x)
            ink += At(img, x, y) != face ? 1 : 0;
    QVERIFY2(ink > 10, "the power caption must still be drawn");

    t.SetPowerStatus(5);
    QCOMPARE(t.PowerStatus(), 0);
    QCOMPARE(At(Render(t), 57, 60), TTileBase::Silver);
}

void TilesTest::cbColoursByStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QColor>("power");
    QTest::addColumn<QColor>("alarm");
    QTest::addRow("0") << 0 << TTileBase::Silver << TTileBase::Silver;
    QTest::addRow("1") << 1 << TTileBase::Lime << TTileBase::White;
    QTest::addRow("2") << 2 << TTileBase::Red << TTileBase::Red;
    QTest::addRow("3 is out of range") << 3 << TTileBase::Silver << TTileBase::Silver;
}

void TilesTest::cbColoursByStatus()
{
    QFETCH(int, status);
    TCB t;
    t.SetPowerStatus(status);
    t.SetArcStatus(status);
    t.SetEmerStatus(status);
    const QImage img = Render(t);
    QTEST(At(img, 11, 28), "power");  // top row
    QTEST(At(img, 11, 44), "alarm");  // arc, middle row
    QTEST(At(img, 11, 60), "alarm");  // fault, bottom row
    QCOMPARE(At(img, 2, 44), TCB::TileColor);
}

void TilesTest::settersClampOutOfRangeValues()
{
    TUir u;
    for (int v : {-1, 4, 5, 100}) {
        u.SetChStatus_1(3);
        u.SetChStatus_1(v);
        QCOMPARE(u.ChStatus1(), 0);
    }
    u.SetChStatus_2(3);
    QCOMPARE(u.ChStatus2(), 3);
    u.SetCentrBlockStatus(3);
    QCOMPARE(u.CentrBlockStatus(), 3);
    u.SetCentrBlockStatus(4);
    QCOMPARE(u.CentrBlockStatus(), 0);
    u.SetPowerStatus(-1);
    QCOMPARE(u.PowerStatus(), 0);

    TCB c;
    c.SetArcStatus(2);
    QCOMPARE(c.ArcStatus(), 2);
    c.SetArcStatus(3);
    QCOMPARE(c.ArcStatus(), 0);
    c.SetEmerStatus(-5);
    QCOMPARE(c.EmerStatus(), 0);
    c.SetPowerStatus(2);
    QCOMPARE(c.PowerStatus(), 2);
    // Defaults of the captions.
    QCOMPARE(u.ChName(1), QStringLiteral("Вх 1"));
    QCOMPARE(u.ChName(3), QStringLiteral("Вх 3"));
    QCOMPARE(u.PowerName(), QStringLiteral("Питание"));
    QCOMPARE(c.ArcName(), QStringLiteral("Дуга"));
    QCOMPARE(c.EmerName(), QStringLiteral("Отказ блока"));
}

void TilesTest::numbersAreClamped()
{
    TUir u;
    const std::pair<int, int> uirCases[] = {{0, 1}, {-3, 1}, {1, 1}, {43, 43}, {44, 43}, {17, 17}};
    for (auto [in, out] : uirCases) {
        u.SetNumber(in);
        QCOMPARE(u.Number(), out);
        QCOMPARE(u.NumberBox()->text(), QString::number(out));
    }
    TCB c;
    const std::pair<int, int> cbCases[] = {{0, 1}, {32, 32}, {33, 32}, {5, 5}};
    for (auto [in, out] : cbCases) {
        c.SetNumber(in);
        QCOMPARE(c.Number(), out);
        QCOMPARE(c.NumberBox()->text(), QString::number(out));
    }
}

void TilesTest::blinkAlternatesSilverAndRed()
{
    TUir t;
    t.SetChStatus_1(3);
    // Before any step the input shows its blink colour: red.
    QCOMPARE(At(Render(t), 11, 60), TTileBase::Red);
    const QColor expected[] = {TTileBase::Silver, TTileBase::Red, TTileBase::Silver, TTileBase::Red};
    for (const QColor& c : expected) {
        t.Ch1Blinking();
        QCOMPARE(t.BlinkColor(1), c);
        QCOMPARE(At(Render(t), 11, 60), c);
    }
    // The other inputs are not touched.
    QCOMPARE(t.BlinkPhase(2), false);
    t.Ch2Blinking();  // input 2 is not in status 3
    QCOMPARE(t.BlinkPhase(2), false);
    QCOMPARE(t.BlinkColor(2), TTileBase::Red);
}

void TilesTest::blinkKeepsPhaseWhenLeavingStatusThree()
{
    TUir t;
    t.SetChStatus_3(3);
    t.Ch3Blinking();
    QCOMPARE(t.BlinkPhase(3), true);
    QCOMPARE(t.BlinkColor(3), TTileBase::Silver);
    t.SetChStatus_3(2);
    t.Ch3Blinking();  // no effect out of status 3
    QCOMPARE(t.BlinkPhase(3), true);
    QCOMPARE(At(Render(t), 11, 28), TTileBase::Red);
    t.SetChStatus_3(3);
    QCOMPARE(At(Render(t), 11, 28), TTileBase::Silver);  // kept its colour for next time
    t.Ch3Blinking();
    QCOMPARE(t.BlinkColor(3), TTileBase::Red);
    QCOMPARE(t.BlinkPhase(3), false);
}

void TilesTest::frameIsDarkAndTwoPixelsWide()
{
    TCB t;
    const QImage img = Render(t);
    const QColor dark = QColor(t.palette().color(QPalette::Shadow).rgb());
    for (const QPoint p : {QPoint(0, 40), QPoint(1, 40), QPoint(114, 40), QPoint(113, 40), QPoint(50, 71),
                           QPoint(50, 70), QPoint(60, 0), QPoint(60, 1)})
        QCOMPARE(At(img, p.x(), p.y()), dark);
    QCOMPARE(At(img, 2, 40), TCB::TileColor);
    QCOMPARE(At(img, 112, 40), TCB::TileColor);
}

QTEST_MAIN(TilesTest)
#include "tst_tiles.moc"
