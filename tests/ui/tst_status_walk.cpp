// The status tick's event walk: which alarm flags it sets or clears and what
// every tile is told to show.
#include <QtTest>
#include <vector>

#include "monitor/StatusWalk.h"

using namespace kestrel;

namespace {
TEventData Ev(uint8_t code, uint8_t uir = 0)
{
    TEventData e;
    e.Code = code;
    e.UirAddress = uir;
    return e;
}
// The list front (newest) first, as the walk sees it.
void Fill(TCbData& cb, const std::vector<TEventData>& newestFirst)
{
    cb.Events.Clear();
    for (const auto& e : newestFirst)
        cb.Events.Append(e);
}
}  // namespace

class StatusWalkTest : public QObject {
    Q_OBJECT
private slots:
    void resetFirstClearsEveryAlarm();
    void resetFurtherDownStopsTheWalk();
    void cbArcIndicator_data();
    void cbArcIndicator();
    void addressesOutsideOneToFortyThreeAreIgnored_data();
    void addressesOutsideOneToFortyThreeAreIgnored();
    void sensorFaultBlinksUntilAnArcMakesItSteady();
    void uirNotAnsweringShowsMagentaAndCbFault();
    void alarmRaisedOnlyWhenAFlagWasClear();
    void pollEnabledDecidesSilverOrWhite();
    void cbPowerFollowsLinkAndEnabled();
    void outputEnabledGivesThePowerCaption();
    void mtzEventsSetMtzActive();
    void walksALargeListQuickly();
};

void StatusWalkTest::resetFirstClearsEveryAlarm()
{
    TCbData cb;
    for (auto& u : cb.Uir)
        for (int n = 1; n <= 3; ++n) {
            u.ChArc(n) = 1;
            u.ChFault(n) = 1;
        }
    for (auto& f : cb.UirLinkLost)
        f = 1;
    for (auto& f : cb.MtzActive)
        f = 1;
    Fill(cb, {Ev(0xD2), Ev(0xA1, 5), Ev(0xE0, 3), Ev(0xC0)});
    const TStatusPicture pic = StatusWalk(cb);
    for (int i = 0; i < kUirCount; ++i) {
        for (int n = 1; n <= 3; ++n) {
            QCOMPARE(int(cb.Uir[i].ChArc(n)), 0);
            QCOMPARE(int(cb.Uir[i].ChFault(n)), 0);
            QCOMPARE(pic.Uir[i].Ch[n - 1], 0);  // not polled: silver
        }
        QCOMPARE(int(cb.UirLinkLost[i]), 0);
        QCOMPARE(pic.Uir[i].Link, 0);
    }
    for (auto& f : cb.MtzActive)
        QCOMPARE(int(f), 0);
    // Elements behind the reset are not walked.
    QCOMPARE(pic.CbArc, 1);
    QCOMPARE(pic.CbFault, 1);
    QVERIFY(!pic.AlarmRaised);
}

void StatusWalkTest::resetFurtherDownStopsTheWalk()
{
    TCbData cb;
    cb.Uir[7].ChArc2 = 1;  // an older alarm is not cleared by a reset below the head
    Fill(cb, {Ev(0xA1, 5), Ev(0xD2), Ev(0xA2, 6), Ev(0xB1), Ev(0xE1, 9)});
    const TStatusPicture pic = StatusWalk(cb);
    QCOMPARE(int(cb.Uir[4].ChArc1), 1);
    QCOMPARE(int(cb.Uir[5].ChArc2), 0);
    QCOMPARE(int(cb.Uir[8].ChFault1), 0);
    QCOMPARE(int(cb.MtzActive[0]), 0);
    QCOMPARE(int(cb.Uir[7].ChArc2), 1);
    QCOMPARE(pic.Uir[4].Ch[0], 2);
    QCOMPARE(pic.Uir[7].Ch[1], 2);
    QCOMPARE(pic.CbArc, 1);  // the MTZ signal sits below the reset
    QCOMPARE(pic.CbFault, 1);
}

void StatusWalkTest::cbArcIndicator_data()
{
    QTest::addColumn<std::vector<TEventData>>("events");
    QTest::addColumn<int>("arc");
    QTest::addColumn<int>("uir5input1");
    QTest::addRow("0xA1 UIR 5 with 0xB1") << std::vector{Ev(0xA1, 5), Ev(0xB1)} << 2 << 2;
    QTest::addRow("0xB3 then 0xA1") << std::vector{Ev(0xB3), Ev(0xA1, 5)} << 2 << 2;
    QTest::addRow("0xA1 alone") << std::vector{Ev(0xA1, 5)} << 1 << 2;
    QTest::addRow("0xB1 alone") << std::vector{Ev(0xB2)} << 1 << 0;
    QTest::addRow("0xC0 alone") << std::vector{Ev(0xC0)} << 2 << 0;
    QTest::addRow("empty list") << std::vector<TEventData>{} << 1 << 0;
    QTest::addRow("unknown codes") << std::vector{Ev(0xD4), Ev(0xD1), Ev(0x00)} << 1 << 0;
}

void StatusWalkTest::cbArcIndicator()
{
    QFETCH(std::vector<TEventData>, events);
    TCbData cb;
    Fill(cb, events);
    const TStatusPicture pic = StatusWalk(cb);
    QTEST(pic.CbArc, "arc");
    QTEST(pic.Uir[4].Ch[0], "uir5input1");
    QCOMPARE(pic.Uir[4].Ch[1], 0);
    QCOMPARE(pic.Uir[4].Ch[2], 0);
}

void StatusWalkTest::addressesOutsideOneToFortyThreeAreIgnored_data()
{
    QTest::addColumn<int>("address");
    QTest::addRow("0") << 0;
    QTest::addRow("44") << 44;
    QTest::addRow("255") << 255;
}

void StatusWalkTest::addressesOutsideOneToFortyThreeAreIgnored()
{
    QFETCH(int, address);
    TCbData cb;
    const auto a = static_cast<uint8_t>(address);
    Fill(cb, {Ev(0xA1, a), Ev(0xA2, a), Ev(0xA3, a), Ev(0xE0, a), Ev(0xE1, a), Ev(0xE2, a), Ev(0xE3, a),
              Ev(0xB1)});
    const TStatusPicture pic = StatusWalk(cb);
    QVERIFY(!pic.AlarmRaised);
    QCOMPARE(pic.CbArc, 1);  // an ignored arc is not "seen"
    QCOMPARE(pic.CbFault, 1);
    for (int i = 0; i < kUirCount; ++i) {
        for (int n = 1; n <= 3; ++n) {
            QCOMPARE(int(cb.Uir[i].ChArc(n)), 0);
            QCOMPARE(int(cb.Uir[i].ChFault(n)), 0);
        }
        QCOMPARE(int(cb.UirLinkLost[i]), 0);
    }
    // The edges of the range do count.
    Fill(cb, {Ev(0xA3, 1), Ev(0xE2, 43)});
    const TStatusPicture edge = StatusWalk(cb);
    QCOMPARE(edge.Uir[0].Ch[2], 2);
    QCOMPARE(edge.Uir[42].Ch[1], 3);
}

void StatusWalkTest::sensorFaultBlinksUntilAnArcMakesItSteady()
{
    TCbData cb;
    cb.Uir[2].PollEnabled = 1;
    Fill(cb, {Ev(0xE1, 3)});
    TStatusPicture pic = StatusWalk(cb);
    QCOMPARE(pic.Uir[2].Ch[0], 3);
    QCOMPARE(pic.Uir[2].Ch[1], 1);
    QCOMPARE(pic.CbFault, 2);
    cb.Events.InsertAt(Ev(0xA1, 3), 0);
    pic = StatusWalk(cb);
    QCOMPARE(pic.Uir[2].Ch[0], 2);
}

void StatusWalkTest::uirNotAnsweringShowsMagentaAndCbFault()
{
    TCbData cb;
    cb.Uir[6].PollEnabled = 1;
    Fill(cb, {Ev(0xE0, 7)});
    TStatusPicture pic = StatusWalk(cb);
    QCOMPARE(int(cb.UirLinkLost[6]), 1);
    QCOMPARE(pic.Uir[6].Link, 2);
    QCOMPARE(pic.Uir[6].Ch[0], 1);
    QCOMPARE(pic.CbFault, 2);
    // A flag left over without the event in the walked list shows as polled.
    Fill(cb, {Ev(0xC0)});
    pic = StatusWalk(cb);
    QCOMPARE(int(cb.UirLinkLost[6]), 1);
    QCOMPARE(pic.Uir[6].Link, 1);
}

void StatusWalkTest::alarmRaisedOnlyWhenAFlagWasClear()
{
    for (const TEventData& e : {Ev(0xA1, 5), Ev(0xA2, 10), Ev(0xA3, 43), Ev(0xE0, 1), Ev(0xE1, 2), Ev(0xE3, 3)}) {
        TCbData cb;
        Fill(cb, {e});
        QVERIFY2(StatusWalk(cb).AlarmRaised, "a new alarm restores the window");
        QVERIFY2(!StatusWalk(cb).AlarmRaised, "a repeated one does not");
    }
    // Events that set no UIR flag never raise it.
    TCbData cb;
    Fill(cb, {Ev(0xB1), Ev(0xC0), Ev(0xD4)});
    QVERIFY(!StatusWalk(cb).AlarmRaised);
}

void StatusWalkTest::pollEnabledDecidesSilverOrWhite()
{
    TCbData cb;
    cb.Uir[0].PollEnabled = 1;
    const TStatusPicture pic = StatusWalk(cb);
    QCOMPARE(pic.Uir[0], (TUirTileState{{1, 1, 1}, 1, false}));
    QCOMPARE(pic.Uir[1], (TUirTileState{{0, 0, 0}, 0, false}));
}

void StatusWalkTest::cbPowerFollowsLinkAndEnabled()
{
    TCbData cb;
    QCOMPARE(StatusWalk(cb).CbPower, 1);
    cb.Enabled = 0;
    QCOMPARE(StatusWalk(cb).CbPower, 0);
    cb.LinkLost = 1;
    QCOMPARE(StatusWalk(cb).CbPower, 2);
    cb.Enabled = 1;
    QCOMPARE(StatusWalk(cb).CbPower, 2);
}

void StatusWalkTest::outputEnabledGivesThePowerCaption()
{
    TCbData cb;
    cb.Uir[11].OutputEnabled = 1;
    const TStatusPicture pic = StatusWalk(cb);
    QVERIFY(pic.Uir[11].OutputEnabled);
    QVERIFY(!pic.Uir[10].OutputEnabled);
}

void StatusWalkTest::mtzEventsSetMtzActive()
{
    TCbData cb;
    Fill(cb, {Ev(0xB3), Ev(0xB1)});
    StatusWalk(cb);
    QCOMPARE(int(cb.MtzActive[0]), 1);
    QCOMPARE(int(cb.MtzActive[1]), 0);
    QCOMPARE(int(cb.MtzActive[2]), 1);
}

void StatusWalkTest::walksALargeListQuickly()
{
    // 100 000 events walked in one tick; the budget is generous for slow
    // machines and sanitizers, the benchmark prints the real figure.
    TCbData cb;
    for (int i = 0; i < 100000; ++i)
        cb.Events.Append(Ev(static_cast<uint8_t>(0xA1 + i % 3), static_cast<uint8_t>(1 + i % 43)));
    QElapsedTimer t;
    t.start();
    const TStatusPicture pic = StatusWalk(cb);
    QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(pic.Uir[42].Ch[2], 2);
}

QTEST_MAIN(StatusWalkTest)
#include "tst_status_walk.moc"
