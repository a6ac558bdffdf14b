// The service console window behind a scripted port: the missing-selection
// messages, the FCB bit of the single poll, the MTZ-3 test bytes on the wire,
// a port that does not open, the traffic log filled from the worker, and the
// console flag set while shown and cleared after closing.
#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QSignalSpy>
#include <QtTest>

#include "link/FakeSerialDevice.h"
#include "monitor/FakeAcq.h"
#include "monitor/GetDataThread.h"
#include "setup/ui/Rs485SetupForm.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Queues each log line to the window, as the main window's hooks do.
class FormHooks final : public IUiHooks {
public:
    TRs485SetupForm* form = nullptr;
    void LogLine(const std::string& s) override
    {
        TRs485SetupForm* f = form;
        QMetaObject::invokeMethod(f, [f, s] { f->AppendLog(QString::fromStdString(s)); },
                                  Qt::QueuedConnection);
    }
};

struct Rig {
    TGlobalState state;
    FakeSerialDevice dev;
    TComPort port{dev};
    RecordingSleeper sleeper;
    FormHooks hooks;
    TCbProtocol proto{state, port, sleeper, hooks};
    TRs485SetupForm form{state, proto, [] { return static_cast<TGetDataThread*>(nullptr); }};
    std::vector<std::pair<QString, QString>> warnings;
    Rig()
    {
        hooks.form = &form;
        state.Cb(0)->Address = 5;
        state.Cb(0)->Name = "ЦБ №1";
        form.ShowWarning = [this](const QString& t, const QString& c) { warnings.emplace_back(t, c); };
        form.Fill();
        form.show();  // the traffic log runs only while the console is shown
    }
    int Run()
    {
        QSignalSpy done(&form, &TRs485SetupForm::CommandFinished);
        form.bbSendCommand->click();
        if (!done.wait(5000))
            return -1000;
        return done.takeFirst().at(0).toInt();
    }
};

}  // namespace

class Rs485Test : public QObject {
    Q_OBJECT
private slots:
    void layoutAndDefaults()
    {
        Rig r;
        QCOMPARE(r.form.windowTitle(), QStringLiteral("Отладка протокола по RS485"));
        QCOMPARE(r.form.ComboBox1->count(), 17);
        QCOMPARE(r.form.ComboBox1->currentText(), QStringLiteral("Сброс канала"));
        QCOMPARE(r.form.ComboBox2->currentText(), QStringLiteral("ЦБ №1"));
        QCOMPARE(r.form.ComboBox3->count(), 12);
        QCOMPARE(r.form.ComboBox5->currentText(), QStringLiteral("500"));
        QCOMPARE(r.form.ComboBox6->currentText(), QStringLiteral("Не ждать"));
        QCOMPARE(r.form.bbSendCommand->text(), QStringLiteral("Выполнить"));
    }

    void missingSelections_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("message");
        QTest::newRow("command") << 1 << QStringLiteral("Неверно задан код команды");
        QTest::newRow("block") << 2 << QStringLiteral("Неверно задан центральный блок (ЦБ)");
        QTest::newRow("segment") << 3 << QStringLiteral("Неверно задан номер сегмента в конфигурации УИР");
    }
    void missingSelections()
    {
        QFETCH(int, which);
        QFETCH(QString, message);
        Rig r;
        QComboBox* lists[] = {nullptr, r.form.ComboBox1, r.form.ComboBox2, r.form.ComboBox3};
        lists[which]->setCurrentIndex(-1);
        r.form.bbSendCommand->click();
        QCOMPARE(r.warnings.size(), size_t{1});
        QCOMPARE(r.warnings[0].first, message);
        QCOMPARE(r.warnings[0].second, QStringLiteral("Внимание"));
        QVERIFY(r.dev.Writes.empty());
        QVERIFY(r.form.bbSendCommand->isEnabled());
    }

    void pollFcb_data()
    {
        QTest::addColumn<bool>("fcb");
        QTest::addColumn<int>("control");
        QTest::newRow("clear") << false << 0x5B;
        QTest::newRow("set") << true << 0x7B;
    }
    void pollFcb()
    {
        QFETCH(bool, fcb);
        QFETCH(int, control);
        Rig r;
        r.form.ComboBox1->setCurrentIndex(14);
        r.form.CheckBox1->setChecked(fcb);
        r.Run();
        QVERIFY(!r.dev.Writes.empty());
        const auto c = static_cast<uint8_t>(control);
        QCOMPARE(r.dev.Writes[0], (Bytes{0x10, c, 5, static_cast<uint8_t>(c + 5), 0x16}));
        // The exchange's lines reach the log from the worker.
        QTRY_VERIFY(!r.form.Memo1->toPlainText().isEmpty());
        QVERIFY(r.form.bbSendCommand->isEnabled());
    }

    void mtz3TestBytes()
    {
        Rig r;
        r.form.ComboBox1->setCurrentIndex(7);
        r.form.ComboBox4->setCurrentIndex(3);
        r.form.ComboBox5->setCurrentIndex(r.form.ComboBox5->findText(QStringLiteral("150")));
        r.form.ComboBox6->setCurrentIndex(r.form.ComboBox6->findText(QStringLiteral("Ждать")));
        r.Run();
        QVERIFY(!r.dev.Writes.empty());
        const Bytes& w = r.dev.Writes[0];
        // A long frame: 0x68 L L 0x68 C A CI data... CS 0x16. The four table
        // bytes travel inverted, the UROV and MTZ bytes as they are.
        QVERIFY(w.size() >= 6 + 8);
        const Bytes data(w.end() - 8, w.end() - 2);
        QCOMPARE(data, (Bytes{0x38, 0x38, 0x39, 0x3E, 3, 1}));
        std::vector<uint8_t> staged;
        for (size_t i = 0; i < 6; ++i)
            staged.push_back(r.state.CmdData[i].load());
        QCOMPARE(staged, (Bytes{0xC7, 0xC7, 0xC6, 0xC1, 3, 1}));
    }

    void missingPortSendsNothing()
    {
        Rig r;
        r.state.Cb(0)->PortNumber = 4;
        r.dev.OpenErrors[4] = 2;
        const int result = r.Run();
        QVERIFY(result < 0);
        QVERIFY(r.dev.Writes.empty());
        QVERIFY(r.state.Cb(0)->LastPortError.load() != 0);
        QTRY_VERIFY(!r.form.Memo1->toPlainText().isEmpty());
    }

    void timestampsOnlyWhenTicked()
    {
        Rig r;
        r.form.AppendLog(QStringLiteral("plain"));
        r.form.cbTimestamps->setChecked(true);
        r.form.AppendLog(QStringLiteral("first"));
        r.form.AppendLog(QStringLiteral("second"));
        const QStringList lines = r.form.Memo1->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("plain"));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} first$")).match(lines[1]).hasMatch(),
                 qPrintable(lines[1]));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\+\\d+ мс second$")).match(lines[2]).hasMatch(),
                 qPrintable(lines[2]));
    }

    void saveLogFailureIsShown()
    {
        Rig r;
        r.form.AppendLog(QStringLiteral("строка"));
        QVERIFY(!r.form.SaveLog(QStringLiteral("/nonexistent-dir/x/log.txt")));
        QCOMPARE(r.warnings.size(), size_t{1});
        QVERIFY(r.warnings[0].first.contains(QStringLiteral("Журнал обмена не сохранён")));
    }

    void threadStandsStillWhileShown()
    {
        // The acquisition thread run pass by pass on a virtual clock: the
        // console's show waits (pumping events) until the thread has given
        // up the port; no pass touches the link until the console closes.
        TGlobalState state;
        FakeLink link;
        VirtualClock clock;
        CountingHooks hooks;
        TGetDataThread thread{state, link, clock, hooks};
        FakeSerialDevice dev;
        TComPort port{dev};
        RecordingSleeper sleeper;
        TCbProtocol proto{state, port, sleeper, hooks};
        TRs485SetupForm form{state, proto, [&thread] { return &thread; }};
        thread.RunPass();
        link.Take();
        QTimer pass;
        QObject::connect(&pass, &QTimer::timeout, [&thread] { thread.RunPass(); });
        pass.start(0);
        form.show();
        pass.stop();
        QVERIFY(thread.PauseTaken());
        QCOMPARE(thread.Paused.load(), 1);
        QCOMPARE(state.ConsoleOpen.load(), 1);
        link.Take();
        for (int i = 0; i < 30; ++i)
            thread.RunPass();
        QCOMPARE(QString::fromStdString(ToString(link.Take())), QString());
        form.close();
        QCOMPARE(thread.Paused.load(), 0);
        QCOMPARE(state.ConsoleOpen.load(), 0);
        for (int i = 0; i < 30; ++i)
            thread.RunPass();
        QVERIFY(!link.Take().empty());
    }

    void dialogItemsSendNothingYet()
    {
        for (int item : {8, 9}) {
            Rig r;
            r.form.ComboBox1->setCurrentIndex(item);
            r.form.bbSendCommand->click();
            QVERIFY(r.dev.Writes.empty());
            QVERIFY(r.dev.Calls.empty());
            QVERIFY(r.form.bbSendCommand->isEnabled());
        }
    }

    void consoleFlagWhileShown()
    {
        Rig r;
        QCOMPARE(r.state.ConsoleOpen.load(), 1);
        r.form.close();
        QCOMPARE(r.state.ConsoleOpen.load(), 0);
        r.form.show();
        QCOMPARE(r.state.ConsoleOpen.load(), 1);
        r.form.close();
        QCOMPARE(r.state.ConsoleOpen.load(), 0);
    }
};

QTEST_MAIN(Rs485Test)
#include "tst_rs485.moc"
