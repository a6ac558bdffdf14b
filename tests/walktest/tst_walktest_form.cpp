// The walk-test window against a block simulated in process behind the real
// port, protocol and acquisition thread: the block checked first, arcs judged
// against the file's tables, a fault marked, a pause that drops a flash, the
// results on disk and resumed from there, the certificate after the end.
//
// The link is paced on a virtual clock and the window's PC time is fixed;
// only the thread's pauses are real.
#include <QAction>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "SimBus.h"
#include "monitor/ui/MainForm.h"
#include "state/FileIo.h"
#include "ui/SimAcquisition.h"
#include "ui/UiTestSupport.h"
#include "walktest/ui/WalkTestForm.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr int kWaitMs = 20000;  // only a guard against a hang
constexpr int64_t kPcMs = 1'780'000'000'000;

struct Rig {
    VirtualClock clock;
    sim::SimBus bus{clock};
    sim::TSimCb& sim;
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    std::unique_ptr<TMainForm> form;
    TWalkTestForm* walk = nullptr;

    Rig() : sim(bus.Attach(1, {})) {}
    ~Rig()
    {
        if (form)
            form->close();
    }

    bool Start()
    {
        TGlobalState seed;
        TCbData& cb = *seed.Cb(0);
        cb.Address = 1;
        cb.PortNumber = 1;
        cb.FuncTable[2][1] = 0x05;  // F2 in МТЗ-1: outputs 1, 3
        cb.FuncTable[1][1] = 0x02;  // F1 in МТЗ-1: output 2
        // UIR 1: inputs 1 and 2 monitored (F2); UIR 2: input 1 (F1).
        const int uirs[2][4] = {{1, 1, 0, 2}, {1, 0, 0, 1}};
        for (int u = 0; u < 2; ++u) {
            TUirData& r = cb.Uir[u];
            r.Present = r.PollEnabled = 1;
            r.InputControl1 = uirs[u][0];
            r.InputControl2 = uirs[u][1];
            r.InputControl3 = uirs[u][2];
            r.InputFunction1 = r.InputFunction2 = static_cast<uint8_t>(uirs[u][3]);
            sim.ConfigureUir(u + 1, true, false, uirs[u][3], uirs[u][3], 0, uirs[u][0], uirs[u][1], uirs[u][2]);
        }
        if (!temp.Seed(seed))
            return false;
        const TDeviceSettings file = DeviceSettingsOf(cb);
        for (int k = 0; k < 4; ++k)
            for (int m = 0; m < 4; ++m)
                sim.SetTableWire(m, k, static_cast<uint8_t>(~file.FuncTable[k][m]));
        sim.SetUrovUnits(static_cast<uint8_t>(file.UrovUnits));
        form = std::make_unique<TMainForm>(state, *temp.store, prompt);
        walk = AttachWalkTestForm(*form, state);
        walk->Now = [] { return kPcMs; };
        if (form->Startup(SimBusAcquisition(bus, clock)) != StartupResult::Continue)
            return false;
        form->show();
        return QTest::qWaitForWindowExposed(form.get()) &&
               QTest::qWaitFor([this] { return state.Cb(0)->FirstPollPending == 0; }, kWaitMs);
    }
};

// Row by row, input 1..3.
QStringList Cells(const TWalkTestForm& f)
{
    QStringList out;
    for (int r = 0; r < f.Matrix->rowCount(); ++r)
        for (int c = 0; c < 3; ++c)
            out << f.Matrix->item(r, c)->text();
    return out;
}

}  // namespace

class WalkTestFormTest : public QObject {
    Q_OBJECT
private slots:
    void flashesJudgedKeptOnDiskAndCertified();
};

void WalkTestFormTest::flashesJudgedKeptOnDiskAndCertified()
{
    Rig r;
    QVERIFY(r.Start());
    TWalkTestForm& f = *r.walk;
    QCOMPARE(r.form->mmWalkTest->text(), QStringLiteral("Проверка датчиков"));
    // Behind the access code.
    r.prompt.accessPrompt = {false};
    r.form->mmWalkTest->trigger();
    QVERIFY(!f.isVisible());
    r.prompt.accessPrompt = {true};
    r.form->mmWalkTest->trigger();
    QVERIFY(f.isVisible());
    QCOMPARE(f.Matrix->verticalHeaderItem(1)->text(), QStringLiteral("УИР 2"));
    QCOMPARE(Cells(f), QStringList({"не проверен", "не проверен", "не контролируется", "не проверен",
                                    "не контролируется", "не контролируется"}));
    QVERIFY(!f.bbPause->isEnabled() && !f.bbFinish->isEnabled() && !f.bbSaveCertificate->isEnabled());

    // A block that differs from the file is not tested.
    r.sim.SetTableWire(1, 1, static_cast<uint8_t>(~0x08));
    r.prompt.log.clear();
    f.bbStartClick();
    QVERIFY(!f.Running());
    QCOMPARE(r.prompt.log.size(), size_t(1));
    QVERIFY(QString::fromStdString(r.prompt.log[0].text).startsWith(QStringLiteral("Проверка датчиков не начата")));
    r.sim.SetTableWire(1, 1, static_cast<uint8_t>(~0x02));
    f.bbStartClick();
    QVERIFY(f.Running() && f.bbPause->isEnabled() && !f.bbStart->isEnabled());
    QCOMPARE(r.prompt.log.size(), size_t(1));

    // 1/1 as the tables say; 2/1 with its relay on output 4 instead of 2
    // (the table changed after the check); then the sensor of 1/1 lost.
    QVERIFY(r.sim.RaiseArc(1, 1, 3, 1));
    r.sim.RaiseReset();
    r.sim.SetTableWire(1, 1, static_cast<uint8_t>(~0x08));
    QVERIFY(r.sim.RaiseArc(2, 1, 3, 1));
    r.sim.RaiseReset();
    QVERIFY(r.sim.RaiseSensorFault(1, 1));
    const QStringList judged{"норма, неисправность", "не проверен", "не контролируется", "ошибка",
                             "не контролируется", "не контролируется"};
    QTRY_COMPARE_WITH_TIMEOUT(Cells(f), judged, kWaitMs);
    QCOMPARE(f.CountersLine->text(),
             QStringLiteral("Норма: 1, ошибка: 1, не проверено: 1 из 3 контролируемых входов; неисправностей: 1"));
    struct Colour {
        int row, col;
        int hue;  // -1: grey
    } const colours[] = {{0, 0, 120}, {1, 0, 0}, {0, 2, -1}};
    for (const Colour& c : colours) {
        const QColor bg = f.Matrix->item(c.row, c.col)->background().color();
        QCOMPARE(bg.hue() < 0 ? -1 : (bg.hue() + 30) / 60 * 60 % 360, c.hue);
    }
    QVERIFY(!f.Matrix->item(0, 0)->icon().isNull() && f.Matrix->item(1, 0)->icon().isNull());
    const QString tip = f.Matrix->item(1, 0)->toolTip();
    QVERIFY2(tip.contains(QStringLiteral("режим: МТЗ-1")) && tip.contains(QStringLiteral("выходы по таблицам: 2")) &&
                 tip.contains(QStringLiteral("выходы ЦБ: 4")) && tip.contains(QStringLiteral("выходы 4 вместо 2")),
             qPrintable(tip));

    // The file beside the configuration file holds what the window shows.
    QVERIFY(QDir::fromNativeSeparators(QString::fromStdString(f.TestFilePath())).endsWith(QStringLiteral("/a.ЦБ1.walktest")));
    TWalkTest onDisk;
    std::string why;
    QVERIFY2(TWalkTest::LoadFrom(f.TestFilePath(), onDisk, why), why.c_str());
    for (int u = 1; u <= 2; ++u)
        for (int i = 1; i <= 3; ++i)
            QCOMPARE(int(onDisk.Result(u, i).Verdict) * 2 + onDisk.Result(u, i).Fault,
                     int(f.Test().Result(u, i).Verdict) * 2 + f.Test().Result(u, i).Fault);

    // A flash in a pause is not counted, even once the test goes on.
    TEventTap seen(r.state.Cb(0)->Events);
    f.bbPause->click();
    QVERIFY(f.bbResume->isEnabled() && !f.bbPause->isEnabled());
    QVERIFY(r.sim.RaiseArc(1, 2, 3, 1));
    std::vector<TEventData> got;
    const auto outputsSeen = [&] {
        for (const TEventData& e : seen.Take())
            got.push_back(e);
        return !got.empty() && got.back().Code == 0xC0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(outputsSeen(), kWaitMs);
    f.Feed();
    f.bbResume->click();
    f.Feed();
    QCOMPARE(Cells(f), judged);

    // Opened afresh (as after a crash), the begun test is offered and resumed.
    r.sim.SetTableWire(1, 1, static_cast<uint8_t>(~0x02));
    TWalkTestForm again(r.state, *r.form);
    again.Now = [] { return kPcMs; };
    r.prompt.accessPrompt = {true};
    r.prompt.yesNo = {true};
    again.Open(0);
    again.bbStartClick();
    QCOMPARE(r.prompt.log.back().kind + ":" + r.prompt.log.back().text.substr(r.prompt.log.back().text.find('\n') + 1),
             std::string("ask:Продолжить начатую проверку?"));
    QCOMPARE(Cells(again), judged);
    again.bbFinishClick();

    // The end: the certificate can be saved, under the block's name.
    f.bbFinish->click();
    QVERIFY(!f.Running() && f.bbSaveCertificate->isEnabled() && f.bbStart->isEnabled());
    QVERIFY(TWalkTest::LoadFrom(f.TestFilePath(), onDisk, why) && onDisk.Finished());
    const std::string pdf = r.temp.Path("протокол.pdf");
    QString offered;
    f.ChooseCertificateFile = [&](const QString& name, std::string& path) {
        offered = name;
        path = pdf;
        return true;
    };
    r.prompt.log.clear();
    f.bbSaveCertificate->click();
    QCOMPARE(offered, QStringLiteral("ЦБ 1 — протокол проверки датчиков.pdf"));
    QVERIFY(r.prompt.log.empty());
    QFile written(QString::fromStdString(pdf));
    QVERIFY(written.open(QIODevice::ReadOnly) && written.read(5) == "%PDF-");
    QCOMPARE(r.prompt.unexpected, 0);
}

QTEST_MAIN(WalkTestFormTest)
#include "tst_walktest_form.moc"
