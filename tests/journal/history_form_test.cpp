// The journal window under Qt: its table, buttons, timer and the wiring to
// the main window. Requests are served by a fake that plays the acquisition
// thread inside the wait loop.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <functional>
#include <iterator>

#include "journal/JournalRows.h"
#include "journal/ui/HistoryForm.h"
#include "monitor/PostRequest.h"
#include "monitor/ui/MainForm.h"
#include "protocol/Protocol.h"

using namespace kestrel;

namespace {

TEventData Ev(uint8_t code, uint8_t uir = 0, uint16_t ms = 0)
{
    TEventData e;
    e.Code = code;
    e.UirAddress = uir;
    e.Milliseconds = ms;
    e.Day = 5;
    e.Month = 3;
    e.Year = 18;
    return e;
}

// Plays the acquisition thread: whenever the window pumps its events with a
// code in the slot, `serve` runs once per look and the slot is freed after
// `looks` looks.
struct FakeWaitUi final : IWaitUi {
    TGlobalState* state = nullptr;
    std::vector<int32_t> served;
    std::vector<int> rowsSeen;
    QTableWidget* grid = nullptr;
    int looks = 3;
    int look = 0;
    std::function<void(int32_t code, int look)> serve;
    int shows = 0;

    void ShowWait(const std::string&) override { ++shows; }
    void CloseWait() override {}
    void ProcessEvents() override
    {
        QCoreApplication::processEvents();
        if (grid)
            rowsSeen.push_back(grid->rowCount());
        TCbData* cb = state->Shown();
        const int32_t code = cb->Request;
        if (code == 0)
            return;
        if (serve)
            serve(code, look);
        if (++look >= looks) {
            served.push_back(code);
            look = 0;
            cb->Request = 0;
        }
    }
    void Pause(uint32_t) override {}
    void ShowError(const std::string&, const std::string&) override {}
};

// The window with scripted questions and dialogs.
class ScriptedHistoryForm : public THistoryForm {
public:
    using THistoryForm::THistoryForm;
    bool answer = false;
    QString exportPath;
    QStringList questions, messages;
    bool AskYesNo(const std::string& text, const std::string&, PromptIcon) override
    {
        questions << QString::fromStdString(text);
        return answer;
    }
    void Message(const std::string& text, const std::string&, PromptIcon) override
    {
        messages << QString::fromStdString(text);
    }
    bool ChooseExportFile(std::string& path) override
    {
        if (exportPath.isEmpty())
            return false;
        path = exportPath.toStdString();
        return true;
    }
};

struct NullStore final : ISettingsStore {
    int ReadRegString(const std::string&, std::string&) override { return -1; }
    int WriteRegString(const std::string&, const std::string&) override { return 0; }
};

struct NullPrompt final : IPrompt {
    bool AskYesNo(const std::string&, const std::string&, PromptIcon) override { return false; }
    void Message(const std::string&, const std::string&, PromptIcon) override {}
    bool ChangeCodeDialog(std::string&) override { return false; }
    bool AccessPrompt() override { return false; }
    bool ChooseConfigFile(std::string&) override { return false; }
};

QString Cell(QTableWidget* g, int r, int c)
{
    QTableWidgetItem* it = g->item(r, c);
    return it ? it->text() : QString();
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    return f.readAll();
}

}  // namespace

class HistoryFormTest : public QObject {
    Q_OBJECT

private slots:
    void Construction()
    {
        TGlobalState state;
        FakeWaitUi ui;
        ui.state = &state;
        ScriptedHistoryForm form(state, ui);
        QCOMPARE(form.windowTitle(), QString("Журнал"));
        QCOMPARE(form.StringGrid1->columnCount(), 4);
        QCOMPARE(form.StringGrid1->rowCount(), 0);
        const char* headers[] = {"№ п/п", "Код", "Событие", "Дата/время события"};
        const int widths[] = {64, 79, 464, 232};
        for (int c = 0; c < 4; ++c) {
            QCOMPARE(form.StringGrid1->horizontalHeaderItem(c)->text(), QString(headers[c]));
            QCOMPARE(form.StringGrid1->columnWidth(c), widths[c]);
        }
        QCOMPARE(form.bbGetListEvents->text(), QString("Обновить список событий"));
        QCOMPARE(form.bbClearEvents->text(), QString("Удалить все события из журнала"));
        QCOMPARE(form.bbSaveToFile->text(), QString("Сохранить в файл"));
        QCOMPARE(form.bbClose->text(), QString("Закрыть"));
        QVERIFY(!form.ClearButtonVisible());
        form.show();
        QVERIFY(form.bbClearEvents->isHidden());
        QVERIFY(form.bbGetListEvents->isVisible());
        form.SetClearButtonVisible(true);
        QVERIFY(form.bbClearEvents->isVisible());
        form.SetClearButtonVisible(false);
        QVERIFY(!form.ClearButtonVisible());
        QCOMPARE(form.Timer1->interval(), 1000);
        QVERIFY(form.Timer1->isActive());
        form.hide();
        QVERIFY(form.Timer1->isActive());  // keeps consuming the count while hidden
    }

    void RenderAndTimer()
    {
        TGlobalState state;
        FakeWaitUi ui;
        ui.state = &state;
        ScriptedHistoryForm form(state, ui);
        TCbData& cb = *state.Shown();
        cb.Events.Append(Ev(0xA1, 5));
        cb.Events.Append(Ev(0x5A));
        cb.Events.Append(Ev(0xD2));
        // Nothing new counted: the timer leaves the table alone.
        form.Timer1Timer();
        QCOMPARE(form.StringGrid1->rowCount(), 0);
        cb.NewEventCount = 3;
        form.Timer1Timer();
        QCOMPARE(cb.NewEventCount.load(), 0);
        QCOMPARE(form.StringGrid1->rowCount(), 3);
        QCOMPARE(Cell(form.StringGrid1, 0, 0), QString("1"));
        QCOMPARE(Cell(form.StringGrid1, 0, 1), QString("A1"));
        QCOMPARE(Cell(form.StringGrid1, 0, 2), QString("ДЗ на входе 1, УИР 5, интервал 0"));
        QCOMPARE(Cell(form.StringGrid1, 0, 3), QString("5.3.2018  0:0:0.0"));
        QCOMPARE(Cell(form.StringGrid1, 1, 1), QString("5A"));
        QCOMPARE(Cell(form.StringGrid1, 1, 2), QString(""));
        QCOMPARE(Cell(form.StringGrid1, 2, 2), QString("Сброс ВЖРКН"));
        // A shorter list leaves no stale rows behind.
        cb.Events.Clear();
        cb.Events.Append(Ev(0xD0));
        form.RenderList();
        QCOMPARE(form.StringGrid1->rowCount(), 1);
        QCOMPARE(Cell(form.StringGrid1, 0, 1), QString("D0"));
        // The real timer fires (within its second; the limit only guards a hang).
        cb.Events.Append(Ev(0xD1));
        cb.NewEventCount = 1;
        QTRY_COMPARE_WITH_TIMEOUT(cb.NewEventCount.load(), 0, 30000);
        QCOMPARE(form.StringGrid1->rowCount(), 2);
    }

    void FetchGrowsTheTable()
    {
        TGlobalState state;
        FakeWaitUi ui;
        ui.state = &state;
        ui.looks = 4;
        ScriptedHistoryForm form(state, ui);
        ui.grid = form.StringGrid1;
        TCbData& cb = *state.Shown();
        cb.Events.Append(Ev(0xB2));
        ui.serve = [&](int32_t code, int) {
            QCOMPARE(code, int32_t(ReqFetchJournal));
            cb.Events.Append(Ev(0xA2, 7, static_cast<uint16_t>(cb.Events.Count())));
        };
        QTest::mouseClick(form.bbGetListEvents, Qt::LeftButton);
        QCOMPARE(ui.served, std::vector<int32_t>{ReqFetchJournal});
        QCOMPARE(ui.shows, 1);
        QCOMPARE(form.StringGrid1->rowCount(), 4);
        QCOMPARE(Cell(form.StringGrid1, 0, 1), QString("A2"));  // the old B2 was dropped
        // The table was rendered at each look: it grew 0, 1, 2, 3 while records came.
        QVERIFY(ui.rowsSeen.size() >= 4);
        QCOMPARE(ui.rowsSeen[0], 0);
        QCOMPARE(ui.rowsSeen[1], 1);
        QCOMPARE(ui.rowsSeen[2], 2);
        QCOMPARE(ui.rowsSeen[3], 3);
        QVERIFY(form.messages.isEmpty());

        // A failed fetch says so and clears the flag.
        ui.serve = [&](int32_t, int) { cb.JournalError = 1; };
        form.bbGetListEventsClick();
        QCOMPARE(form.messages, QStringList{"Ошибка выполнения команды"});
        QCOMPARE(cb.JournalError.load(), 0);
    }

    void ClearQuestion()
    {
        TGlobalState state;
        FakeWaitUi ui;
        ui.state = &state;
        ui.looks = 1;
        ScriptedHistoryForm form(state, ui);
        TCbData& cb = *state.Shown();
        cb.Events.Append(Ev(0xD1));
        form.SetClearButtonVisible(true);
        form.show();
        form.answer = false;
        QTest::mouseClick(form.bbClearEvents, Qt::LeftButton);
        QCOMPARE(form.questions.size(), 1);
        QCOMPARE(form.questions[0],
                 QString("Внимание! Все записи журнала событий контроллера будут удалены! Выполнить?"));
        QVERIFY(ui.served.empty());
        QCOMPARE(cb.Events.Count(), 1);

        form.answer = true;
        ui.serve = [&](int32_t code, int) {
            if (code == ReqFetchJournal)
                cb.Events.Append(Ev(0xD0));
        };
        QTest::mouseClick(form.bbClearEvents, Qt::LeftButton);
        QCOMPARE(ui.served, (std::vector<int32_t>{ReqClearJournal, ReqFetchJournal}));
        QCOMPARE(ui.shows, 0);
        QCOMPARE(form.StringGrid1->rowCount(), 1);
        QCOMPARE(Cell(form.StringGrid1, 0, 1), QString("D0"));
    }

    void ExportFromTheButton()
    {
        TGlobalState state;
        FakeWaitUi ui;
        ui.state = &state;
        ScriptedHistoryForm form(state, ui);
        TCbData& cb = *state.Shown();
        cb.Events.Append(Ev(0xC0));
        cb.Events.Append(Ev(0xE1, 43));
        form.RenderList();
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        form.exportPath = dir.filePath("журнал.txt");
        QTest::mouseClick(form.bbSaveToFile, Qt::LeftButton);
        const QByteArray bytes = ReadAll(form.exportPath);
        const std::string expected = JournalExportBytes(RenderJournal(cb.Events));
        QCOMPARE(bytes, QByteArray(expected.data(), static_cast<qsizetype>(expected.size())));
        QVERIFY(bytes.startsWith("1;   C0;   "));
        QVERIFY(form.messages.isEmpty());

        // A folder in the way: the message, and nothing else changes.
        form.exportPath = dir.filePath("папка");
        QVERIFY(QDir(dir.path()).mkdir("папка"));
        form.bbSaveToFileClick();
        QCOMPARE(form.messages, QStringList{"Невозможно сохранить данные!"});

        // Cancelled dialog: nothing.
        form.messages.clear();
        form.exportPath.clear();
        form.bbSaveToFileClick();
        QVERIFY(form.messages.isEmpty());
    }

    void CloseAndConsole()
    {
        TGlobalState state;
        FakeWaitUi ui;
        ui.state = &state;
        ScriptedHistoryForm form(state, ui);
        QWidget console;
        console.setGeometry(100, 80, 400, 300);
        console.show();
        form.SetConsoleWindow(&console);
        state.Shown()->Events.Append(Ev(0xD1));
        form.RenderList();
        form.ConsoleJournalRecord("C0", "Состояние выходов ЦБ 05", "5.3.18  9:7:5.30");
        QVERIFY(form.isVisible());
        QCOMPARE(form.StringGrid1->rowCount(), 2);
        QCOMPARE(Cell(form.StringGrid1, 0, 1), QString("D1"));
        QCOMPARE(Cell(form.StringGrid1, 1, 0), QString("2"));
        QCOMPARE(Cell(form.StringGrid1, 1, 2), QString("Состояние выходов ЦБ 05"));
        QTest::mouseClick(form.bbClose, Qt::LeftButton);
        QVERIFY(!form.isVisible());
        form.ConsoleShowJournal();
        QVERIFY(form.isVisible());
        QCOMPARE(form.StringGrid1->rowCount(), 1);  // rendered again from the list
        form.hide();
    }

    void MainWindowOpensIt()
    {
        TGlobalState state;
        NullStore store;
        NullPrompt prompt;
        TMainForm main(state, store, prompt);
        main.show();
        QVERIFY(!main.mmiHistory->isVisible());
        auto* form = new ScriptedHistoryForm(state, main.WaitUi());
        AttachHistoryForm(main, *form);
        QVERIFY(main.mmiHistory->isVisible());
        QVERIFY(main.ToolButton4->isVisible());
        QCOMPARE(main.mmiHistory->text().remove('&'), QString("Журнал"));
        state.Shown()->Events.Append(Ev(0xD3));
        main.ToolButton4->trigger();
        QVERIFY(form->isVisible());
        QCOMPARE(form->StringGrid1->rowCount(), 1);
        QCOMPARE(Cell(form->StringGrid1, 0, 2), QString("Вход в меню настроек"));
        if (!qEnvironmentVariableIsEmpty("KESTREL_SCREENSHOTS")) {
            for (int k = 0; k < 40; ++k)
                state.Shown()->Events.Append(Ev(static_cast<uint8_t>(k % 2 ? 0xA1 + k % 3 : 0xC0), uint8_t(k % 43 + 1), uint16_t(k * 7)));
            form->RenderList();
            QCoreApplication::processEvents();
            form->grab().save(qEnvironmentVariable("KESTREL_SCREENSHOTS") + "/journal_window.png");
        }
        // The console's hooks reach the window (queued to the UI thread).
        const int before = form->StringGrid1->rowCount();
        main.QtHooks().ConsoleJournalRecord("D2", "Сброс ВЖРКН", "1.1.20  0:0:0.0");
        QTRY_COMPARE(form->StringGrid1->rowCount(), before + 1);
        QCOMPARE(Cell(form->StringGrid1, form->StringGrid1->rowCount() - 1, 1), QString("D2"));
        main.Shutdown();
    }
};

QTEST_MAIN(HistoryFormTest)
#include "history_form_test.moc"
