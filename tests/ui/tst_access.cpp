// The access prompt and the access-code change dialog.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QtTest>
#include <vector>

#include "app/AccessForms.h"
#include "state/Cp1251.h"

using namespace kestrel;

namespace {
struct Recorder {
    std::vector<TPromptMessage> shown;
    ShowMessageFn Fn()
    {
        return [this](QWidget*, const TPromptMessage& m) { shown.push_back(m); };
    }
};

void Type(QLineEdit* e, const QString& text)
{
    e->clear();
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 128;
    if (ascii)
        QTest::keyClicks(e, text);
    else
        e->insert(text);  // key events carry Latin-1 only
}
}  // namespace

class AccessTest : public QObject {
    Q_OBJECT
private slots:
    void promptTextsAndEcho();
    void promptAcceptsStoredAndMasterCodes_data();
    void promptAcceptsStoredAndMasterCodes();
    void wrongCodeWarnsAndEmptiesTheField();
    void promptEmptiesTheFieldOnEachActivation();
    void cancelClosesWithCancel();
    void changeDialogTexts();
    void changeDialogMessages_data();
    void changeDialogMessages();
    void changeDialogEmptiesItsFieldsOnEachActivation();
};

void AccessTest::promptTextsAndEcho()
{
    TGlobalState state;
    TProtectAccessForm f(state);
    QCOMPARE(f.windowTitle(), QStringLiteral("Защита от несанкционированного доступа"));
    const auto labels = f.findChildren<QLabel*>();
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels[0]->text(), QStringLiteral("Защита от несанкционированного доступа. Наберите пароль"));
    QCOMPARE(f.ConfirmButton()->text(), QStringLiteral("Подтвердить"));
    QCOMPARE(f.CancelButton()->text(), QStringLiteral("Отменить"));
    QCOMPARE(f.Edit1()->echoMode(), QLineEdit::Password);
    // One "*" per character.
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QCOMPARE(f.Edit1()->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, f.Edit1()), int(QChar(u'*').unicode()));
}

void AccessTest::promptAcceptsStoredAndMasterCodes_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::addRow("stored code") << "abc" << "abc" << true;
    QTest::addRow("master code") << "abc" << "7ujm" << true;
    QTest::addRow("case matters") << "abc" << "ABC" << false;
    QTest::addRow("no trimming") << "abc" << " abc" << false;
    QTest::addRow("master is exact too") << "abc" << "7UJM" << false;
    QTest::addRow("empty stored code accepts an empty entry") << "" << "" << true;
    QTest::addRow("empty entry against a stored code") << "abc" << "" << false;
    QTest::addRow("Cyrillic code") << "пароль" << "пароль" << true;
}

void AccessTest::promptAcceptsStoredAndMasterCodes()
{
    QFETCH(QString, stored);
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    TGlobalState state;
    state.AccessCode = W1251(stored.toStdString());
    Recorder rec;
    TProtectAccessForm f(state, nullptr, rec.Fn());
    f.show();
    Type(f.Edit1(), typed);
    QTest::mouseClick(f.ConfirmButton(), Qt::LeftButton);
    QCOMPARE(f.result() == QDialog::Accepted, accepted);
    QCOMPARE(f.isVisible(), !accepted);
    QCOMPARE(rec.shown.empty(), accepted);
}

void AccessTest::wrongCodeWarnsAndEmptiesTheField()
{
    TGlobalState state;
    state.AccessCode = "abc";
    Recorder rec;
    TProtectAccessForm f(state, nullptr, rec.Fn());
    f.show();
    for (int attempt = 1; attempt <= 3; ++attempt) {  // no limit on attempts
        Type(f.Edit1(), QStringLiteral("wrong"));
        QTest::mouseClick(f.ConfirmButton(), Qt::LeftButton);
        QCOMPARE(rec.shown.size(), size_t(attempt));
        QCOMPARE(rec.shown.back(), (TPromptMessage{"Неверно набран код доступа", "Внимание!", PromptIcon::Warning}));
        QCOMPARE(f.Edit1()->text(), QString());
        QVERIFY(f.isVisible());
    }
    Type(f.Edit1(), QStringLiteral("abc"));
    QTest::keyClick(f.Edit1(), Qt::Key_Return);  // the confirm button is the default
    QCOMPARE(f.result(), int(QDialog::Accepted));
}

void AccessTest::promptEmptiesTheFieldOnEachActivation()
{
    TGlobalState state;
    TProtectAccessForm f(state);
    f.show();
    Type(f.Edit1(), QStringLiteral("half"));
    f.hide();
    f.show();
    QCOMPARE(f.Edit1()->text(), QString());
}

void AccessTest::cancelClosesWithCancel()
{
    TGlobalState state;
    TProtectAccessForm f(state);
    f.show();
    Type(f.Edit1(), QStringLiteral("7ujm"));
    QTest::mouseClick(f.CancelButton(), Qt::LeftButton);
    QCOMPARE(f.result(), int(QDialog::Rejected));
    QVERIFY(!f.isVisible());

    TCreateNewPasswordForm c(state);
    c.show();
    QTest::mouseClick(c.CancelButton(), Qt::LeftButton);
    QCOMPARE(c.result(), int(QDialog::Rejected));
}

void AccessTest::changeDialogTexts()
{
    TGlobalState state;
    TCreateNewPasswordForm f(state);
    QCOMPARE(f.windowTitle(), QStringLiteral("Окно изменения пароля"));
    QStringList texts;
    for (QLabel* l : f.findChildren<QLabel*>())
        texts << l->text();
    QCOMPARE(texts, (QStringList{QStringLiteral("Старый пароль"), QStringLiteral("Новый пароль"),
                                 QStringLiteral("Подтвердите новый пароль")}));
    QCOMPARE(f.ConfirmButton()->text(), QStringLiteral("Подтвердить"));
    QCOMPARE(f.CancelButton()->text(), QStringLiteral("Отменить"));
    for (QLineEdit* e : {f.OldEdit(), f.NewEdit(), f.ConfirmEdit()})
        QCOMPARE(e->echoMode(), QLineEdit::Password);
}

void AccessTest::changeDialogMessages_data()
{
    QTest::addColumn<QString>("oldCode");
    QTest::addColumn<QString>("newCode");
    QTest::addColumn<QString>("confirm");
    QTest::addColumn<QStringList>("messages");
    const QString wrongOld = QStringLiteral("Неверный старый пароль");
    const QString mismatch = QStringLiteral("Не совпадает новый пароль с подтверждением нового пароля");
    QTest::addRow("right old, pair differs") << "abc" << "x1" << "x2" << QStringList{mismatch};
    QTest::addRow("wrong old, pair matches") << "abd" << "x1" << "x1" << QStringList{wrongOld};
    QTest::addRow("wrong old, pair differs") << "abd" << "x1" << "x2" << QStringList{wrongOld, mismatch};
    QTest::addRow("master as old code") << "7ujm" << "x1" << "x1" << QStringList{};
    QTest::addRow("empty new code") << "abc" << "" << "" << QStringList{};
    QTest::addRow("long new code") << "abc" << QString(40, QChar('z')) << QString(40, QChar('z')) << QStringList{};
}

void AccessTest::changeDialogMessages()
{
    QFETCH(QString, oldCode);
    QFETCH(QString, newCode);
    QFETCH(QString, confirm);
    QFETCH(QStringList, messages);
    TGlobalState state;
    state.AccessCode = "abc";
    Recorder rec;
    TCreateNewPasswordForm f(state, nullptr, rec.Fn());
    f.show();
    Type(f.OldEdit(), oldCode);
    Type(f.NewEdit(), newCode);
    Type(f.ConfirmEdit(), confirm);
    QTest::mouseClick(f.ConfirmButton(), Qt::LeftButton);
    QStringList shown;
    for (const auto& m : rec.shown) {
        shown << QString::fromStdString(m.text);
        QCOMPARE(m.caption, std::string("Ошибка создания нового пароля"));
        QCOMPARE(m.icon, PromptIcon::Error);
    }
    QCOMPARE(shown, messages);
    if (messages.isEmpty()) {
        QCOMPARE(f.result(), int(QDialog::Accepted));
        QCOMPARE(f.NewCode(), newCode.toStdString());
    } else {
        QVERIFY(f.isVisible());
        // The fields stay as typed.
        QCOMPARE(f.OldEdit()->text(), oldCode);
        QCOMPARE(f.NewEdit()->text(), newCode);
        QCOMPARE(f.ConfirmEdit()->text(), confirm);
    }
    QCOMPARE(state.AccessCode, std::string("abc"));  // the dialog itself changes nothing
}

void AccessTest::changeDialogEmptiesItsFieldsOnEachActivation()
{
    TGlobalState state;
    TCreateNewPasswordForm f(state);
    f.show();
    Type(f.OldEdit(), QStringLiteral("a"));
    Type(f.NewEdit(), QStringLiteral("b"));
    Type(f.ConfirmEdit(), QStringLiteral("c"));
    f.hide();
    f.show();
    for (QLineEdit* e : {f.OldEdit(), f.NewEdit(), f.ConfirmEdit()})
        QCOMPARE(e->text(), QString());
}

QTEST_MAIN(AccessTest)
#include "tst_access.moc"
