// Window placement: the arithmetic (centre, the rules, kept on the screen)
// and the size a window never shown is placed with.
#include <QLabel>
#include <QVBoxLayout>
#include <QWindow>
#include <QtTest>

#include "monitor/ui/Placement.h"

using namespace kestrel;

Q_DECLARE_METATYPE(kestrel::TPlaceKind)

class PlacementTest : public QObject {
    Q_OBJECT
private slots:
    void placeCalc_data();
    void placeCalc();
    void sizeBeforeTheFirstShow_data();
    void sizeBeforeTheFirstShow();
    void sizeOfAWindowShownBefore();
    void placedWindowOpensThere();
};

void PlacementTest::placeCalc_data()
{
    QTest::addColumn<TPlaceKind>("kind");
    QTest::addColumn<QRect>("over");
    QTest::addColumn<int>("top");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QPoint>("expected");

    const QRect s1280(0, 0, 1280, 1024), s1024(0, 0, 1024, 768);
    const auto C = TPlaceKind::Centred, H = TPlaceKind::CentredHorizontally, T = TPlaceKind::AtTopLeft;
    // The block setup window on the tile area of a centred main window.
    QTest::newRow("centred, 1280") << C << QRect(144, 226, 992, 597) << 0 << QSize(816, 437) << s1280 << QPoint(232, 306);
    QTest::newRow("centred, 1024") << C << QRect(16, 98, 992, 597) << 0 << QSize(816, 437) << s1024 << QPoint(104, 178);
    // Halves truncate separately, as the main window's rule has it.
    QTest::newRow("odd sizes") << C << QRect(10, 10, 993, 601) << 0 << QSize(101, 51) << s1280 << QPoint(456, 285);
    QTest::newRow("horizontally, top given") << H << QRect(16, 51, 992, 667) << 118 << QSize(808, 253) << s1024
                                             << QPoint(108, 118);
    QTest::newRow("at the top-left corner") << T << QRect(100, 120, 860, 480) << 0 << QSize(867, 520) << s1280
                                            << QPoint(100, 120);
    QTest::newRow("right edge") << C << QRect(900, 300, 300, 300) << 0 << QSize(816, 437) << s1024 << QPoint(208, 232);
    QTest::newRow("left edge") << C << QRect(-200, 300, 100, 100) << 0 << QSize(400, 100) << s1024 << QPoint(0, 300);
    QTest::newRow("top edge") << H << QRect(0, 0, 1024, 768) << -40 << QSize(400, 100) << s1024 << QPoint(312, 0);
    QTest::newRow("bottom edge") << C << QRect(16, 600, 992, 160) << 0 << QSize(816, 437) << s1024 << QPoint(104, 331);
    QTest::newRow("top-left corner kept on") << T << QRect(900, 700, 10, 10) << 0 << QSize(424, 155) << s1024
                                             << QPoint(600, 613);
    QTest::newRow("larger than the screen") << C << QRect(0, 0, 1024, 768) << 0 << QSize(1200, 900) << s1024
                                            << QPoint(0, 0);
    // A panel above the available area; a second monitor to the right.
    QTest::newRow("larger, available area below a panel")
        << C << QRect(0, 30, 1024, 738) << 0 << QSize(1200, 900) << QRect(0, 30, 1024, 738) << QPoint(0, 30);
    QTest::newRow("second monitor, left edge")
        << C << QRect(1200, 0, 200, 200) << 0 << QSize(400, 300) << QRect(1280, 0, 1024, 768) << QPoint(1280, 0);
    QTest::newRow("second monitor, right edge")
        << C << QRect(2200, 700, 200, 200) << 0 << QSize(400, 300) << QRect(1280, 0, 1024, 768) << QPoint(1904, 468);
    QTest::newRow("no screen known: not moved in") << C << QRect(-300, -300, 100, 100) << 0 << QSize(400, 300)
                                                   << QRect() << QPoint(-450, -400);
}

void PlacementTest::placeCalc()
{
    QFETCH(TPlaceKind, kind);
    QFETCH(QRect, over);
    QFETCH(int, top);
    QFETCH(QSize, size);
    QFETCH(QRect, screen);
    QFETCH(QPoint, expected);
    const TPlaceRule rule{kind, {over.x(), over.y(), over.width(), over.height()}, top};
    const TPlacePoint p =
        PlaceWindowCalc(rule, size.width(), size.height(), {screen.x(), screen.y(), screen.width(), screen.height()});
    QCOMPARE(QPoint(p.Left, p.Top), expected);
}

void PlacementTest::sizeBeforeTheFirstShow_data()
{
    QTest::addColumn<QSize>("content");  // a fixed-size child in a layout
    QTest::addColumn<QSize>("resized");  // set by resize() before; empty: none
    QTest::addColumn<QSize>("expected");

    QTest::newRow("laid out, never resized") << QSize(700, 400) << QSize() << QSize();
    QTest::newRow("resize() larger than the layout is kept") << QSize(200, 100) << QSize(860, 480) << QSize(860, 480);
    QTest::newRow("resize() smaller grows to the minimum") << QSize(500, 300) << QSize(100, 50) << QSize();
}

// The size learnt before the first show, frame included (the shown owner's
// frame), is the one the window shows with; its own part is `expected` when
// given.
void PlacementTest::sizeBeforeTheFirstShow()
{
    QFETCH(QSize, content);
    QFETCH(QSize, resized);
    QFETCH(QSize, expected);
    QWidget owner;
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    auto* w = new QWidget(&owner, Qt::Window);
    auto* layout = new QVBoxLayout(w);
    auto* child = new QLabel(QStringLiteral("x"), w);
    child->setFixedSize(content);
    layout->addWidget(child);
    if (resized.isValid())
        w->resize(resized);

    const QSize learnt = WindowOuterSize(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(learnt, w->frameGeometry().size());
    QVERIFY(w->width() >= content.width() && w->height() >= content.height());
    if (expected.isValid())
        QCOMPARE(w->size(), expected);
    // Resized as the operator does it (not by resize()), then hidden: that
    // size stays and is what is placed next time.
    const QSize dragged = w->size() + QSize(120, 80);
    w->windowHandle()->resize(dragged);
    QTRY_COMPARE(w->size(), dragged);
    const QSize outer = w->frameGeometry().size();
    w->hide();
    QCOMPARE(WindowOuterSize(w), outer);
}

// A window first shown by show() alone (a dialog run by exec()) keeps the
// size it had on the screen, though its contents shrank meanwhile.
void PlacementTest::sizeOfAWindowShownBefore()
{
    QWidget w;
    auto* layout = new QVBoxLayout(&w);
    auto* child = new QLabel(QStringLiteral("x"), &w);
    child->setFixedSize(400, 300);
    layout->addWidget(child);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QSize outer = w.frameGeometry().size();
    child->setFixedSize(200, 100);
    QCOMPARE(WindowOuterSize(&w), outer);
    w.hide();
    QCOMPARE(WindowOuterSize(&w), outer);
}

// A never-shown window centred over another opens centred, by its own size.
void PlacementTest::placedWindowOpensThere()
{
    QWidget main;
    main.setGeometry(50, 40, 600, 500);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    auto* w = new QWidget(&main, Qt::Window);
    auto* layout = new QVBoxLayout(w);
    auto* child = new QLabel(QStringLiteral("x"), w);
    child->setFixedSize(300, 200);
    layout->addWidget(child);

    CentreWindowOver(w, &main);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    const QRect over = main.frameGeometry(), got = w->frameGeometry();
    QVERIFY2(qAbs(got.center().x() - over.center().x()) <= 1 && qAbs(got.center().y() - over.center().y()) <= 1,
             qPrintable(QStringLiteral("%1,%2 %3x%4 over %5,%6 %7x%8")
                            .arg(got.x()).arg(got.y()).arg(got.width()).arg(got.height())
                            .arg(over.x()).arg(over.y()).arg(over.width()).arg(over.height())));
}

QTEST_MAIN(PlacementTest)
#include "tst_placement.moc"
