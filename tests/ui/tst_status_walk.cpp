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
    void blockMark_data();
    void blockMark();
    void alarmLine_data();
    void alarmLine();
    void sweepKeepsEveryBlockApart();
    void markClearsByTheResetAtTheHeadOnly();
    void sweepStopsAtTheAllocatedBlocks();
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
    // 100 000 events walked in one tick. The walk is linear: it may take at
    // most 40 times a tenth of the list measured here (plus a slack for a
    // busy host); the benchmark prints the real figure.
    TCbData cb;
    for (int i = 0; i < 100000; ++i)
        cb.Events.Append(Ev(static_cast<uint8_t>(0xA1 + i % 3), static_cast<uint8_t>(1 + i % 43)));
    TCbData tenth;
    for (int i = 0; i < 10000; ++i)
        tenth.Events.Append(Ev(static_cast<uint8_t>(0xA1 + i % 3), static_cast<uint8_t>(1 + i % 43)));
    QElapsedTimer t;
    t.start();
    (void)StatusWalk(tenth);
    const qint64 tenthNs = t.nsecsElapsed();
    t.restart();
    const TStatusPicture pic = StatusWalk(cb);
    const qint64 fullNs = t.nsecsElapsed();
    QVERIFY2(fullNs < 40 * tenthNs + 200000000LL,
             qPrintable(QStringLiteral("%1 ns for 100 000, %2 ns for 10 000").arg(fullNs).arg(tenthNs)));
    QCOMPARE(pic.Uir[42].Ch[2], 2);
}

// What a block's list entry shows, from its event list and link state.
void StatusWalkTest::blockMark_data()
{
    QTest::addColumn<std::vector<TEventData>>("events");
    QTest::addColumn<bool>("linkLost");
    QTest::addColumn<bool>("pending");
    QTest::addColumn<bool>("arc");
    QTest::addColumn<bool>("failure");
    QTest::addColumn<int>("mark");
    const int none = int(TCbMark::None), alarm = int(TCbMark::Alarm), lost = int(TCbMark::LinkLost);
    QTest::addRow("quiet") << std::vector<TEventData>{} << false << false << false << false << none;
    QTest::addRow("harmless codes") << std::vector{Ev(0xD1), Ev(0xD4), Ev(0xB2)} << false << false << false
                                    << false << none;
    QTest::addRow("arc on a UIR alone") << std::vector{Ev(0xA2, 5)} << false << false << true << false << alarm;
    QTest::addRow("outputs switched") << std::vector{Ev(0xC0)} << false << false << true << false << alarm;
    QTest::addRow("sensor fault") << std::vector{Ev(0xE3, 43)} << false << false << false << true << alarm;
    QTest::addRow("UIR not answering") << std::vector{Ev(0xE0, 1)} << false << false << false << true << alarm;
    QTest::addRow("arc outside 1..43") << std::vector{Ev(0xA1, 44), Ev(0xE1, 0)} << false << false << false
                                       << false << none;
    QTest::addRow("link lost") << std::vector<TEventData>{} << true << false << false << false << lost;
    QTest::addRow("arc beats a lost link") << std::vector{Ev(0xA1, 7)} << true << false << true << false << alarm;
    QTest::addRow("arc behind a reset") << std::vector{Ev(0xD1), Ev(0xD2), Ev(0xA1, 7)} << false << false
                                        << false << false << none;
    // Nothing is drawn before the first poll: neither tiles nor mark.
    QTest::addRow("first poll pending") << std::vector{Ev(0xA1, 7), Ev(0xE0, 2)} << true << true << false
                                        << false << none;
}

void StatusWalkTest::blockMark()
{
    QFETCH(std::vector<TEventData>, events);
    QFETCH(bool, linkLost);
    QFETCH(bool, pending);
    TCbData cb;
    cb.FirstPollPending = pending ? 1 : 0;
    cb.LinkLost = linkLost ? 1 : 0;
    Fill(cb, events);
    const TBlockStatus s = BlockStatus(cb);
    QCOMPARE(s.Walked, !pending);
    QTEST(s.Alarm.Arc, "arc");
    QTEST(s.Alarm.Failure, "failure");
    QCOMPARE(s.Alarm.LinkLost, linkLost && !pending);
    QTEST(int(s.Alarm.Mark()), "mark");
    QTEST(int(CbMark(cb)), "mark");
    if (pending) {
        QCOMPARE(int(cb.Uir[6].ChArc1), 0);  // the walk did not run
        QCOMPARE(int(cb.UirLinkLost[1]), 0);
    }
}

void StatusWalkTest::alarmLine_data()
{
    QTest::addColumn<std::vector<TCbAlarm>>("blocks");
    QTest::addColumn<QString>("line");
    const TCbAlarm quiet{}, arc{true, false, false}, fail{false, true, false}, lost{false, false, true};
    QTest::addRow("no block") << std::vector<TCbAlarm>{} << QString();
    QTest::addRow("all quiet") << std::vector{quiet, quiet, quiet} << QString();
    QTest::addRow("arc on 2") << std::vector{quiet, arc} << QStringLiteral("Дуга: ЦБ 2");
    QTest::addRow("each kind") << std::vector{fail, arc, lost}
                               << QStringLiteral("Дуга: ЦБ 2; Отказ: ЦБ 1; Нет связи: ЦБ 3");
    QTest::addRow("one block in two lists") << std::vector{TCbAlarm{true, true, true}, quiet}
                                            << QStringLiteral("Дуга: ЦБ 1; Отказ: ЦБ 1; Нет связи: ЦБ 1");
    QTest::addRow("two in a row stay apart") << std::vector{arc, arc, quiet, arc}
                                             << QStringLiteral("Дуга: ЦБ 1, 2, 4");
    QTest::addRow("three in a row are a range") << std::vector{quiet, lost, lost, lost, quiet, lost}
                                                << QStringLiteral("Нет связи: ЦБ 2–4, 6");
    std::vector<TCbAlarm> all(255, lost);
    all[99] = quiet;
    QTest::addRow("255 blocks") << all << QStringLiteral("Нет связи: ЦБ 1–99, 101–255");
}

void StatusWalkTest::alarmLine()
{
    QFETCH(std::vector<TCbAlarm>, blocks);
    QFETCH(QString, line);
    QCOMPARE(QString::fromStdString(AlarmLine(blocks)), line);
}

// An arc on block 2 marks block 2 only; block 1's flags are not touched.
void StatusWalkTest::sweepKeepsEveryBlockApart()
{
    TGlobalState state;
    state.CbCount = 3;
    QVERIFY(state.EnsureAllocated(3));
    for (int i = 0; i < 3; ++i)
        state.Cb(i)->FirstPollPending = 0;
    state.Cb(1)->Events.Append(Ev(0xA3, 12));
    state.Cb(2)->LinkLost = 1;
    TStatusSweep sweep = StatusSweep(state);
    QCOMPARE(sweep.Blocks.size(), size_t(3));
    QCOMPARE(sweep.Blocks[0].Alarm.Mark(), TCbMark::None);
    QCOMPARE(sweep.Blocks[1].Alarm.Mark(), TCbMark::Alarm);
    QCOMPARE(sweep.Blocks[2].Alarm.Mark(), TCbMark::LinkLost);
    QCOMPARE(sweep.Blocks[1].Picture.Uir[11].Ch[2], 2);
    QCOMPARE(sweep.Blocks[0].Picture.Uir[11].Ch[2], 0);
    QCOMPARE(int(state.Cb(1)->Uir[11].ChArc3), 1);
    QCOMPARE(int(state.Cb(0)->Uir[11].ChArc3), 0);
    QVERIFY2(sweep.AlarmRaised, "an alarm on a block not shown brings the window back");
    QCOMPARE(QString::fromStdString(sweep.Line), QStringLiteral("Дуга: ЦБ 2; Нет связи: ЦБ 3"));
    // The same alarm again does not.
    sweep = StatusSweep(state);
    QVERIFY(!sweep.AlarmRaised);
    QCOMPARE(sweep.Blocks[1].Alarm.Mark(), TCbMark::Alarm);
    // The link comes back: its mark goes at once.
    state.Cb(2)->LinkLost = 0;
    QCOMPARE(QString::fromStdString(StatusSweep(state).Line), QStringLiteral("Дуга: ЦБ 2"));
}

// The mark stays while the UIR flag stays: a reset further down the list
// does not clear it, one at the head does.
void StatusWalkTest::markClearsByTheResetAtTheHeadOnly()
{
    TCbData cb;
    cb.FirstPollPending = 0;
    Fill(cb, {Ev(0xA1, 5)});
    QCOMPARE(CbMark(cb), TCbMark::Alarm);
    cb.Events.InsertAt(Ev(0xD2), 0);
    cb.Events.InsertAt(Ev(0xD1), 0);  // a newer harmless event: the reset is not at the head
    QCOMPARE(CbMark(cb), TCbMark::Alarm);
    Fill(cb, {Ev(0xD2), Ev(0xA1, 5)});
    QCOMPARE(CbMark(cb), TCbMark::None);
    QCOMPARE(int(cb.Uir[4].ChArc1), 0);
}

// CbCount beyond the records there are: the sweep stops at the last record.
void StatusWalkTest::sweepStopsAtTheAllocatedBlocks()
{
    TGlobalState state;
    QVERIFY(state.EnsureAllocated(2));
    state.CbCount = 2;
    state.Cb(0)->FirstPollPending = 0;
    state.Cb(1)->FirstPollPending = 0;
    state.Cb(1)->Events.Append(Ev(0xE0, 4));
    QCOMPARE(QString::fromStdString(StatusSweep(state).Line), QStringLiteral("Отказ: ЦБ 2"));
    state.CbCount = 1;
    const TStatusSweep one = StatusSweep(state);
    QCOMPARE(one.Blocks.size(), size_t(1));
    QVERIFY(one.Line.empty());
}

QTEST_MAIN(StatusWalkTest)
#include "tst_status_walk.moc"
