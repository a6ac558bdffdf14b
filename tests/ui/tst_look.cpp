// How the windows look: every text fits its control, and (with
// KESTREL_UI_SHOTS=<folder>) each window is saved as a picture for review.
#include <QFileDialog>
#include <QGlyphRun>
#include <QTextLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolBar>
#include <QTreeView>
#include <QtTest>

#include "UiTestSupport.h"
#include "app/AccessForms.h"
#include "app/QtPrompt.h"
#include "journal/ui/HistoryForm.h"
#include <QMessageBox>
#include "monitor/ui/MessageForm.h"
#include "monitor/ui/Tiles.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {
void Save(QWidget& w, const char* name)
{
    const QByteArray dir = qgetenv("KESTREL_UI_SHOTS");
    if (!dir.isEmpty())
        w.grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
}

// Every character has a glyph in the font it is drawn with (Qt's fallback
// fonts included): none shows as an empty box.
bool HasGlyphs(QString text, const QFont& font)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    for (const QGlyphRun& run : layout.glyphRuns())
        for (quint32 g : run.glyphIndexes())
            if (g == 0)
                return false;
    return true;
}

// Every label and button shows its whole text, every letter of it.
void TextsFit(QWidget& w)
{
    for (QLabel* l : w.findChildren<QLabel*>()) {
        if (!l->isVisible() || l->text().isEmpty())
            continue;
        const int need = l->fontMetrics().horizontalAdvance(l->text());
        QVERIFY2(need <= l->contentsRect().width(),
                 qPrintable(QStringLiteral("\"%1\" needs %2 px, has %3").arg(l->text()).arg(need).arg(l->contentsRect().width())));
        if (l->textFormat() != Qt::RichText && !Qt::mightBeRichText(l->text()))
            QVERIFY2(HasGlyphs(l->text(), l->font()), qPrintable(QStringLiteral("no glyph in \"%1\"").arg(l->text())));
    }
    for (QPushButton* b : w.findChildren<QPushButton*>()) {
        const int need = b->fontMetrics().horizontalAdvance(b->text());
        QVERIFY2(need < b->width(), qPrintable(b->text()));
        QVERIFY2(HasGlyphs(b->text(), b->font()), qPrintable(QStringLiteral("no glyph in \"%1\"").arg(b->text())));
    }
}
// Latin letters where the operator reads Russian: mnemonics and shortcut
// keys ("\tCtrl+Z") aside; "OK" is what the Russian system says as well.
bool English(QString text)
{
    text.remove(QLatin1Char('&'));
    const qsizetype tab = text.indexOf(QLatin1Char('\t'));
    if (tab >= 0)
        text.truncate(tab);
    if (text == QLatin1String("OK"))
        return false;
    for (QChar c : text)
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')))
            return true;
    return false;
}

// Every text an operator reads in a window: title, labels, buttons and their
// tips, table headers.
QStringList Texts(QWidget* w)
{
    QStringList out{w->windowTitle()};
    for (QLabel* l : w->findChildren<QLabel*>())
        if (l->isVisible())
            out << l->text();
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
        if (b->isVisible())
            out << b->text() << b->toolTip();
    for (QHeaderView* h : w->findChildren<QHeaderView*>())
        if (h->isVisible() && h->model())
            for (int i = 0; i < h->count(); ++i)
                out << h->model()->headerData(i, h->orientation()).toString();
    out.removeAll(QString());
    return out;
}

// Runs `open` (which shows a modal window and returns when it is closed);
// `look` gets the modal window once it is up and must close it.
void WhileModal(const std::function<void()>& open, const std::function<void(QWidget*)>& look)
{
    bool seen = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (seen || !modal || !modal->isVisible())
            return;
        seen = true;
        look(modal);
    });
    poll.start();
    open();
    poll.stop();
    QVERIFY(seen);
}

// The window side of a request that is never posted here.
struct NoWaitUi final : IWaitUi {
    void ShowWait(const std::string&) override {}
    void CloseWait() override {}
    void ProcessEvents() override {}
    void Pause(uint32_t) override {}
    void ShowError(const std::string&, const std::string&) override {}
};
}  // namespace

class LookTest : public QObject {
    Q_OBJECT
private slots:
    void waitWindow();
    void accessPrompt();
    void changeDialog();
    void mainWindowAndMenus();
    void tilesInEveryState();
    void questionsAndMessages();
    void accessPromptCentresOnTheTileArea();
    void russianInEveryStandardDialog();
};

void LookTest::waitWindow()
{
    TMessageForm f;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    for (const char* text : {"Ждите! Идет получение архивных данных", "Ждите! Идет получение конфигурации УИР!",
                             "Ждите! Идет получение конфигурации ЦБ!"}) {
        f.SetText(QString::fromUtf8(text));
        TextsFit(f);
    }
    QCOMPARE(f.StaticText1()->geometry(), QRect(19, 100, 385, 27));
    QCOMPARE(f.Animation()->geometry(), QRect(69, 16, 272, 60));
    QVERIFY(f.Animation()->Playing());
    QTRY_VERIFY(f.Animation()->Frame() > 0);
    f.SetText(QStringLiteral("Ждите! Идет получение архивных данных"));
    Save(f, "wait_window");
    f.hide();
    QVERIFY(!f.Animation()->Playing());
}

void LookTest::accessPrompt()
{
    TGlobalState state;
    TProtectAccessForm f(state);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QTest::keyClicks(f.Edit1(), QStringLiteral("abc"));
    TextsFit(f);
    Save(f, "access_prompt");
}

void LookTest::changeDialog()
{
    TGlobalState state;
    TCreateNewPasswordForm f(state);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QTest::keyClicks(f.OldEdit(), QStringLiteral("7ujm"));
    TextsFit(f);
    // The three fields line up.
    QCOMPARE(f.OldEdit()->x(), f.NewEdit()->x());
    QCOMPARE(f.NewEdit()->x(), f.ConfirmEdit()->x());
    Save(f, "change_dialog");
}

void LookTest::mainWindowAndMenus()
{
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    TMainForm form(state, *temp.store, prompt);
    TCbData& cb = *state.Current();
    cb.FirstPollPending = 0;
    for (int i = 0; i < 6; ++i) {
        cb.Uir[i].PollEnabled = 1;
        cb.Uir[i].OutputEnabled = 1;
    }
    TEventData arc;
    arc.Code = 0xA2;
    arc.UirAddress = 5;
    cb.Events.Append(arc);
    TEventData fault;
    fault.Code = 0xE3;
    fault.UirAddress = 2;
    cb.Events.Append(fault);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Timer1Timer();
    QCOMPARE(form.Panel2()->width(), 992);
    QCOMPARE(form.height() - form.menuBar()->height(), 646);
    // Every tile inside the tile area, none overlapping the next.
    for (int i = 0; i < kUirCount; ++i) {
        QVERIFY(form.Panel2()->rect().contains(form.Tile(i)->geometry()));
        if (i > 0 && form.Tile(i)->y() == form.Tile(i - 1)->y())
            QVERIFY(form.Tile(i)->x() >= form.Tile(i - 1)->geometry().right());
    }
    QVERIFY(form.Panel2()->rect().contains(form.CbTile()->geometry()));
    Save(form, "main_window");
    QMenu* settings = form.menuBar()->actions().first()->menu();
    settings->popup(QPoint(0, 0));
    QTRY_VERIFY(settings->isVisible());
    Save(*settings, "menu_settings");
    // What the main window and its menu say, every letter drawn.
    QStringList said = Texts(&form);
    for (QAction* a : settings->actions())
        said << a->text();
    for (const QString& t : said)
        QVERIFY2(HasGlyphs(t, form.font()), qPrintable(QStringLiteral("no glyph in \"%1\"").arg(t)));
    settings->close();
    form.PopupMenu1()->popup(QPoint(0, 0));
    QTRY_VERIFY(form.PopupMenu1()->isVisible());
    Save(*form.PopupMenu1(), "menu_uir_tile");
    form.PopupMenu1()->close();
    Save(*form.ToolBar1(), "tool_bar");
}

void LookTest::tilesInEveryState()
{
    QWidget strip;
    strip.resize(5 * 120 + 5, 82);
    for (int s = 0; s <= 3; ++s) {
        auto* t = new TUir(&strip);
        t->move(5 + s * 120, 5);
        t->SetNumber(s + 1);
        for (int n = 1; n <= 3; ++n)
            t->SetChStatus(n, s);
        t->SetCentrBlockStatus(s);
        t->SetPowerStatus(4);
        t->SetPowerName(s % 2 ? QStringLiteral("Вых Д") : QString());
    }
    auto* cb = new TCB(&strip);
    cb->move(5 + 4 * 120, 5);
    cb->SetPowerStatus(1);
    cb->SetArcStatus(2);
    cb->SetEmerStatus(1);
    cb->SetPowerName(QStringLiteral("Связь ПК"));
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    // The captions stay inside their tile.
    const QFontMetrics fm(cb->font());
    Q_UNUSED(fm);
    Save(strip, "tiles");
}

void LookTest::questionsAndMessages()
{
    TGlobalState state;
    TQtPrompt prompt(state);
    QWidget owner;
    owner.resize(600, 400);
    owner.show();
    prompt.SetOwner(&owner);

    // Answer the box that comes up: remember its buttons, then press one.
    QStringList buttons;
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    auto answer = [&](const QString& press, const char* picture) {
        QTimer::singleShot(50, [&, press, picture] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QCOMPARE(box->parentWidget(), &owner);  // owned: above the main window
            buttons.clear();
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            Save(*box, picture);
            for (QAbstractButton* b : box->buttons())
                if (b->text() == press)
                    b->click();
        });
    };
    answer(QStringLiteral("Нет"), "question");
    QVERIFY(!prompt.AskYesNo("Внимание! Будет выполнен сброс дуговой защиты! Продолжить?", "Внимание!",
                             PromptIcon::Warning));
    buttons.sort();
    QCOMPARE(buttons, (QStringList{QStringLiteral("Да"), QStringLiteral("Нет")}));
    QCOMPARE(caption, QStringLiteral("Внимание!"));
    QCOMPARE(icon, QMessageBox::Warning);
    answer(QStringLiteral("Да"), "question_yes");
    QVERIFY(prompt.AskYesNo("Ошибка чтения пароля. Создать новый пароль?", "Ошибка чтения пароля.",
                            PromptIcon::Error));
    QCOMPARE(icon, QMessageBox::Critical);
    answer(QStringLiteral("OK"), "message");
    prompt.Message("Ошибка выполнения команды", "Внимание!", PromptIcon::Error);
    QCOMPARE(buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(text, QStringLiteral("Ошибка выполнения команды"));

    // The access dialogs of the prompt belong to the owner as well.
    QCOMPARE(prompt.ProtectAccessForm()->parentWidget(), &owner);
    QCOMPARE(prompt.CreateNewPasswordForm()->parentWidget(), &owner);
}

// The access prompt opened by the main window stands in the middle of the
// tile area, not of the frame with its menu and tool bar.
void LookTest::accessPromptCentresOnTheTileArea()
{
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt scripted;
    TMainForm form(state, *temp.store, scripted);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    TQtPrompt prompt(state);
    prompt.SetOwner(&form);
    QPoint at, want;
    WhileModal([&] { QVERIFY(!prompt.AccessPrompt()); },
               [&](QWidget* w) {
                   QVERIFY(qobject_cast<TProtectAccessForm*>(w));
                   const QPoint p2 = form.Panel2()->mapToGlobal(QPoint(0, 0));
                   // The prompt's frame is centred, its own as the main window's.
                   const QSize outer = w->frameGeometry().size();
                   want = QPoint(p2.x() + form.Panel2()->width() / 2 - outer.width() / 2,
                                 p2.y() + form.Panel2()->height() / 2 - outer.height() / 2);
                   at = w->pos();
                   Save(form, "access_prompt_over_main");
                   static_cast<QDialog*>(w)->reject();
               });
    QCOMPARE(at, want);
    // Below the menu and the tool bar, by their height, from a centring on the frame.
    QVERIFY(form.Panel2()->y() > 0);
}

// Qt's own texts come in Russian once the program has loaded Qt's catalogue:
// the journal's question, its save dialog and a text field's menu.
void LookTest::russianInEveryStandardDialog()
{
    QVERIFY2(InstallRussianTranslations(*qApp), "Qt's Russian catalogue is missing (Debian: qt6-translations-l10n)");
    TGlobalState state;
    NoWaitUi ui;
    THistoryForm journal(state, ui);
    journal.show();
    QVERIFY(QTest::qWaitForWindowExposed(&journal));

    // "Удалить все события из журнала": the question's own buttons.
    QStringList buttons;
    WhileModal([&] { QVERIFY(!journal.AskYesNo(journal_text::kClearQuestion, journal_text::kAttention,
                                               PromptIcon::Warning)); },
               [&](QWidget* w) {
                   auto* box = qobject_cast<QMessageBox*>(w);
                   QVERIFY(box);
                   Save(*box, "journal_clear_question");
                   QAbstractButton* no = nullptr;
                   for (QAbstractButton* b : box->buttons()) {
                       buttons << b->text().remove(QLatin1Char('&'));
                       if (box->buttonRole(b) == QMessageBox::NoRole)
                           no = b;
                   }
                   QVERIFY(no);
                   no->click();
               });
    buttons.sort();
    QCOMPARE(buttons, (QStringList{QStringLiteral("Да"), QStringLiteral("Нет")}));

    // "Сохранить в файл": starts with "*.txt", every text Russian.
    std::string path;
    QStringList english;
    QString name;
    WhileModal([&] { QVERIFY(!journal.ChooseExportFile(path)); },
               [&](QWidget* w) {
                   auto* dialog = qobject_cast<QFileDialog*>(w);
                   QVERIFY(dialog);
                   if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                       name = edit->text();
                   for (const QString& t : Texts(dialog))
                       if (English(t))
                           english << t;
                   // The file list's type column ("Folder" in Qt's own texts).
                   auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
                   QVERIFY(view && view->model());
                   QTRY_VERIFY(view->model()->rowCount(view->rootIndex()) > 0);
                   for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
                       QString type = view->model()->index(row, 2, view->rootIndex()).data().toString();
                       // "Файл txt": the suffix is the file's own, whatever other
                       // tests leave in the folder.
                       if (type.startsWith(QStringLiteral("Файл ")))
                           type = QStringLiteral("Файл");
                       if (English(type))
                           english << type;
                   }
                   Save(*dialog, "journal_save_dialog");
                   dialog->reject();
               });
    QCOMPARE(name, QStringLiteral("*.txt"));
    QVERIFY2(english.isEmpty(), qPrintable(english.join(QStringLiteral(" | "))));

    // A text field's own menu (the access prompt's code field).
    TProtectAccessForm prompt(state);
    std::unique_ptr<QMenu> menu(prompt.Edit1()->createStandardContextMenu());
    QStringList items;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) {
            items << a->text();
            QVERIFY2(!English(a->text()), qPrintable(a->text()));
        }
    QVERIFY(items.size() >= 5);
}

QTEST_MAIN(LookTest)
#include "tst_look.moc"
