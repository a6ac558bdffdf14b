#include "walktest/ui/WalkTestForm.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "check/ui/PdfSaveDialog.h"
#include "monitor/ui/DialogPath.h"
#include "monitor/ui/FileTypes.h"
#include "monitor/ui/MainForm.h"
#include "monitor/ui/QtText.h"
#include "state/Cp1251.h"
#include "state/FileIo.h"
#include "walktest/ui/WalkCertificate.h"

namespace kestrel {

namespace {

constexpr const char* kCaption = "Проверка датчиков";
constexpr int kFeedMs = 200;
constexpr int kNotesKept = 500;
const char* const kModes[4] = {"без МТЗ / МТЗ-v", "МТЗ-1", "МТЗ-2", "МТЗ-3"};

const QColor kPassed(150, 230, 150), kFailed(250, 150, 150), kIdle(225, 225, 225);
const QColor kFaultMark(240, 140, 0);

std::string Utf8(const std::filesystem::path& p)
{
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

std::string OutputsText(uint8_t b)
{
    std::string s;
    for (int p = 1; p <= 6; ++p)
        if ((b >> (p - 1)) & 1)
            s += (s.empty() ? "" : ", ") + std::to_string(p);
    return s.empty() ? "нет" : s;
}

QIcon FaultIcon()
{
    QPixmap pm(10, 10);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(kFaultMark);
    p.setPen(Qt::NoPen);
    p.drawEllipse(1, 1, 8, 8);
    return QIcon(pm);
}

std::string CellText(const TInputResult& r)
{
    std::string s;
    if (!r.Monitored && r.Flashes == 0)
        s = "не контролируется";
    else if (r.Verdict == TInputVerdict::Passed)
        s = "норма";
    else if (r.Verdict == TInputVerdict::Failed)
        s = "ошибка";
    else
        s = "не проверен";
    return r.Fault ? s + ", неисправность" : s;
}

std::string CellDetail(const TInputResult& r)
{
    std::string s = "УИР " + std::to_string(r.Uir) + ", вход " + std::to_string(r.Input) + ", функция F" +
                    std::to_string(r.Function);
    if (!r.Monitored)
        s += "\nвход не контролируется";
    if (r.Flashes > 0) {
        s += "\nрежим: " + std::string(kModes[r.Mode & 3]);
        s += "\nвыходы по таблицам: " + OutputsText(r.Predicted);
        s += "\nвыходы ЦБ: " + (r.HaveReported ? OutputsText(r.Reported) : std::string("не сообщены"));
        s += "\nвремя ПК: " + TWalkTest::PcTimeText(r.PcMs);
        if (!r.BlockTime.empty())
            s += "\nвремя ЦБ: " + r.BlockTime;
        s += "\nпроверок входа: " + std::to_string(r.Flashes);
    }
    if (!r.Reason.empty())
        s += "\nпричина: " + r.Reason;
    if (r.Fault)
        s += "\nЦБ сообщил о неисправности во время проверки";
    return s;
}

}  // namespace

TWalkTestForm::TWalkTestForm(TGlobalState& state, TMainForm& main, QWidget* parent)
    : QWidget(parent, parent ? Qt::Window : Qt::WindowFlags()), state_(state), main_(main)
{
    setObjectName("WalkTestForm");
    setWindowTitle(Q(kCaption));
    check_ = std::make_unique<TSettingsCheckActions>(
        state, *this, [this](const PostArgs& a) { return main_.PostRequestAndWait(a); });
    Now = [] { return QDateTime::currentMSecsSinceEpoch(); };
    ChooseCertificateFile = [this](const QString& name, std::string& path) { return RunSaveDialog(name, path); };

    BlockLabel = new QLabel(this);
    BlockLabel->setObjectName("BlockLabel");
    QFont bold = BlockLabel->font();
    bold.setBold(true);
    BlockLabel->setFont(bold);
    CountersLine = new QLabel(this);
    CountersLine->setObjectName("CountersLine");

    Matrix = new QTableWidget(this);
    Matrix->setObjectName("Matrix");
    Matrix->setColumnCount(3);
    Matrix->setHorizontalHeaderLabels({Q("Вход 1"), Q("Вход 2"), Q("Вход 3")});
    Matrix->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    Matrix->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Matrix->setSelectionMode(QAbstractItemView::SingleSelection);
    Matrix->setMinimumHeight(240);
    DetailLine = new QLabel(this);
    DetailLine->setObjectName("DetailLine");
    DetailLine->setWordWrap(true);
    DetailLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    DetailLine->setMinimumHeight(DetailLine->fontMetrics().height() * 2);

    LastResults = new QListWidget(this);
    LastResults->setObjectName("LastResults");
    LastResults->setSelectionMode(QAbstractItemView::NoSelection);
    LastResults->setMinimumHeight(120);

    bbStart = Button(this, "Начать", "bbStart");
    bbPause = Button(this, "Пауза", "bbPause");
    bbResume = Button(this, "Продолжить", "bbResume");
    bbFinish = Button(this, "Завершить", "bbFinish");
    bbSaveCertificate = Button(this, "Сохранить протокол", "bbSaveCertificate");
    bbClose = Button(this, "Закрыть", "bbClose");
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {bbStart, bbPause, bbResume, bbFinish, bbSaveCertificate})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(bbClose);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BlockLabel);
    layout->addWidget(CountersLine);
    layout->addWidget(Matrix, 3);
    layout->addWidget(DetailLine);
    layout->addWidget(new QLabel(Q("Последние результаты:"), this));
    layout->addWidget(LastResults, 1);
    layout->addLayout(buttons);
    resize(640, 600);

    FeedTimer = new QTimer(this);
    FeedTimer->setInterval(kFeedMs);
    connect(FeedTimer, &QTimer::timeout, this, &TWalkTestForm::Feed);
    connect(Matrix, &QTableWidget::currentCellChanged, this, [this] { ShowDetail(); });
    connect(bbStart, &QPushButton::clicked, this, &TWalkTestForm::bbStartClick);
    connect(bbPause, &QPushButton::clicked, this, &TWalkTestForm::bbPauseClick);
    connect(bbResume, &QPushButton::clicked, this, &TWalkTestForm::bbResumeClick);
    connect(bbFinish, &QPushButton::clicked, this, &TWalkTestForm::bbFinishClick);
    connect(bbSaveCertificate, &QPushButton::clicked, this, &TWalkTestForm::bbSaveCertificateClick);
    connect(bbClose, &QPushButton::clicked, this, &QWidget::hide);
    ShowResults();
}

TWalkTestForm::~TWalkTestForm() = default;

// ------------------------------------------------------------------- opening

void TWalkTestForm::Open(int cb)
{
    if (!isVisible() && !AccessPrompt())
        return;
    // A test under way stays on its block; otherwise the one on screen.
    if (!Running() && !busy_ && cb != cb_) {
        cb_ = cb;
        started_ = false;
        LastResults->clear();
    }
    if (!started_) {
        const TCbData* rec = state_.Cb(cb_);
        test_ = rec ? TWalkTest(GetSettings(*rec), cb_ + 1, "", 0) : TWalkTest();
    }
    BuildMatrix();
    ShowResults();
    main_.CentreOnTileArea(this);
    show();
    raise();
    activateWindow();
}

std::string TWalkTestForm::TestFilePath() const
{
    const std::filesystem::path cfg = NativePath(state_.CfgFilePath);
    const std::string name = Utf8(cfg.stem()) + ".ЦБ" + std::to_string(cb_ + 1) + ".walktest";
    return Utf8(cfg.parent_path() / std::filesystem::path(std::u8string(name.begin(), name.end())));
}

QString TWalkTestForm::CertificateFileName() const
{
    return Q(TSettingsCheckActions::BlockName(cb_)) + QStringLiteral(" — протокол проверки датчиков.pdf");
}

// ------------------------------------------------------------------- display

void TWalkTestForm::BuildMatrix()
{
    Matrix->clearContents();
    std::vector<int> rows;
    for (int u = 1; u <= kUirCount; ++u)
        if (test_.Settings().Uir[u - 1].Present)
            rows.push_back(u);
    Matrix->setRowCount(static_cast<int>(rows.size()));
    QStringList labels;
    for (size_t row = 0; row < rows.size(); ++row) {
        const int u = rows[row];
        const std::string number = "УИР " + std::to_string(u);
        const std::string name = U8(test_.Settings().Uir[u - 1].Name);
        // Records start as "УИР №1" whatever their address: only a name given on site is told.
        labels << Q(name.empty() || name.rfind("УИР №", 0) == 0 ? number : number + " — " + name);
        for (int i = 1; i <= 3; ++i) {
            auto* item = new QTableWidgetItem;
            item->setData(Qt::UserRole, u);
            Matrix->setItem(static_cast<int>(row), i - 1, item);
        }
    }
    Matrix->setVerticalHeaderLabels(labels);
}

void TWalkTestForm::ShowResults()
{
    static const QIcon fault = FaultIcon();
    for (int row = 0; row < Matrix->rowCount(); ++row) {
        for (int col = 0; col < 3; ++col) {
            QTableWidgetItem* item = Matrix->item(row, col);
            const TInputResult& r = test_.Result(item->data(Qt::UserRole).toInt(), col + 1);
            item->setText(Q(CellText(r)));
            item->setToolTip(Q(CellDetail(r)));
            item->setIcon(r.Fault ? fault : QIcon());
            const bool idle = !r.Monitored && r.Flashes == 0;
            item->setBackground(idle                                     ? kIdle
                                : r.Verdict == TInputVerdict::Passed ? kPassed
                                : r.Verdict == TInputVerdict::Failed ? kFailed
                                                                     : QColor(Qt::white));
            item->setForeground(idle ? QColor(110, 110, 110) : QColor(Qt::black));
        }
    }
    QString block = Q(TSettingsCheckActions::BlockName(cb_));
    if (const TCbData* rec = state_.Cb(cb_)) {
        const QString name = Q(U8(rec->Name));
        if (!name.isEmpty() && name != block)
            block += QStringLiteral(" — ") + name;
    }
    if (started_)
        block += Q(test_.Finished() ? ", проверка завершена" : paused_ ? ", пауза" : ", идёт проверка");
    BlockLabel->setText(block);

    const TWalkSummary s = test_.Summary();
    CountersLine->setText(Q("Норма: " + std::to_string(s.Passed) + ", ошибка: " + std::to_string(s.Failed) +
                            ", не проверено: " + std::to_string(s.Untested) + " из " + std::to_string(s.Monitored) +
                            " контролируемых входов; неисправностей: " + std::to_string(s.Faults)));
    ShowDetail();

    const bool running = Running();
    bbStart->setEnabled(!running && !busy_);
    bbPause->setEnabled(running && !paused_);
    bbResume->setEnabled(running && paused_);
    bbFinish->setEnabled(running);
    bbSaveCertificate->setEnabled(started_ && test_.Finished());
}

void TWalkTestForm::ShowDetail()
{
    const QTableWidgetItem* item = Matrix->currentItem();
    DetailLine->setText(item ? item->toolTip().replace(QLatin1Char('\n'), QStringLiteral("; ")) : QString());
}

void TWalkTestForm::Note(const std::string& text, TInputVerdict v)
{
    auto* item = new QListWidgetItem(Q(TWalkTest::PcTimeText(Now()) + "  " + text));
    if (v == TInputVerdict::Failed)
        item->setForeground(QColor(190, 0, 0));
    else if (v == TInputVerdict::Passed)
        item->setForeground(QColor(0, 120, 0));
    LastResults->insertItem(0, item);
    while (LastResults->count() > kNotesKept)
        delete LastResults->takeItem(LastResults->count() - 1);
}

void TWalkTestForm::Notes(const std::vector<TWalkNote>& notes)
{
    for (const TWalkNote& n : notes)
        Note(n.Text, n.Verdict);
}

// ------------------------------------------------------------------ the test

void TWalkTestForm::bbStartClick()
{
    if (Running() || busy_)
        return;
    busy_ = true;
    ShowResults();
    const TCheckOutcome& o = check_->Check(cb_);
    busy_ = false;
    ShowResults();
    const std::string name = TSettingsCheckActions::BlockName(cb_);
    if (o.What != TCheckOutcome::Status::Equal) {
        std::string why = check_->SummaryText();
        if (o.What == TCheckOutcome::Status::Differ)
            why += "\nСверьте настройки в окне «Сверка настроек ЦБ».";
        Message("Проверка датчиков не начата: результат имеет смысл только с настройками, с которыми он "
                "сверен.\n" + why,
                kCaption, PromptIcon::Warning);
        return;
    }
    const int64_t now = Now();
    TWalkTest begun;
    std::string why;
    bool resumed = false;
    if (TWalkTest::LoadFrom(TestFilePath(), begun, why) && !begun.Finished() && begun.BlockNumber() == cb_ + 1) {
        if (begun.Fingerprint() != o.FileFingerprint)
            Note("начатая проверка от " + TWalkTest::PcTimeText(begun.StartMs()) +
                     " сделана с другими настройками и не продолжена",
                 TInputVerdict::Untested);
        else
            resumed = AskYesNo("Найдена начатая проверка датчиков " + name + " от " +
                                   TWalkTest::PcTimeText(begun.StartMs()) + ".\nПродолжить начатую проверку?",
                               kCaption, PromptIcon::Question);
    }
    test_ = resumed ? begun : TWalkTest(o.FileCb, cb_ + 1, o.FileFingerprint, now);
    tap_ = std::make_unique<TEventTap>(state_.Cb(cb_)->Events);
    started_ = true;
    paused_ = false;
    saveFailShown_ = false;
    if (!resumed)
        LastResults->clear();
    Note(resumed ? "проверка продолжена" : "проверка начата, отпечаток настроек " + o.FileFingerprint,
         TInputVerdict::Untested);
    BuildMatrix();
    Save();
    FeedTimer->start();
    ShowResults();
}

void TWalkTestForm::Feed()
{
    if (!Running() || !tap_ || feeding_)
        return;
    feeding_ = true;
    // Taken even in a pause, so that what flashed then is never counted.
    const std::vector<TEventData> events = tap_->Take();
    bool changed = false;
    if (!paused_) {
        const int64_t now = Now();
        for (const TEventData& e : events) {
            const std::vector<TWalkNote> notes = test_.OnEvent(e, now);
            Notes(notes);
            changed = changed || !notes.empty();
        }
        const std::vector<TWalkNote> late = test_.OnTime(now);
        Notes(late);
        changed = changed || !late.empty();
    }
    if (changed) {
        ShowResults();
        Save();
    }
    feeding_ = false;
}

void TWalkTestForm::Save()
{
    if (test_.SaveTo(TestFilePath()) == 0 || saveFailShown_)
        return;
    saveFailShown_ = true;
    Message("Результаты проверки не удаётся записать в файл " + TestFilePath() +
                ".\nПроверка продолжается, но после сбоя её нельзя будет продолжить.",
            kCaption, PromptIcon::Warning);
}

void TWalkTestForm::bbPauseClick()
{
    if (!Running())
        return;
    Feed();
    paused_ = true;
    Note("пауза: срабатывания не учитываются", TInputVerdict::Untested);
    ShowResults();
}

void TWalkTestForm::bbResumeClick()
{
    if (!Running())
        return;
    Feed();  // drops what came in the pause
    paused_ = false;
    Note("проверка продолжена", TInputVerdict::Untested);
    ShowResults();
}

void TWalkTestForm::bbFinishClick()
{
    if (!Running())
        return;
    Feed();
    FeedTimer->stop();
    Notes(test_.Finish(Now()));
    paused_ = false;
    const TWalkSummary s = test_.Summary();
    Note("проверка завершена" + std::string(test_.AllPassed() ? ": все входы в норме" : ""),
         s.Failed > 0 || s.Untested > 0 ? TInputVerdict::Failed : TInputVerdict::Passed);
    Save();
    ShowResults();
}

// ---------------------------------------------------------- the certificate

bool TWalkTestForm::RunSaveDialog(const QString& defaultName, std::string& path)
{
    return ChoosePdfToSave(this, main_, Q("Сохранить протокол"), defaultName, path);
}

void TWalkTestForm::bbSaveCertificateClick()
{
    if (!started_ || !test_.Finished())
        return;
    std::string path;
    if (!ChooseCertificateFile || !ChooseCertificateFile(CertificateFileName(), path))
        return;
    if (!PathKeptWhole(path)) {
        Message("Протокол не сохранён: такое имя файла сохранить нельзя.", kCaption, PromptIcon::Error);
        return;
    }
    TCertificateData d;
    d.Installation = Utf8(NativePath(state_.CfgFilePath).filename());
    d.Version = KESTREL_VERSION;
    std::string error;
    if (!WriteWalkCertificate(path, test_, d, error))
        Message("Протокол не сохранён: " + error, kCaption, PromptIcon::Error);
}

// ------------------------------------------------------------------ the view

bool TWalkTestForm::AccessPrompt()
{
    main_.SetStayOnTop(false);
    const bool ok = main_.Prompt().AccessPrompt();
    main_.SetStayOnTop(true);
    return ok;
}

bool TWalkTestForm::AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon)
{
    return main_.Prompt().AskYesNo(text, caption, icon);
}

void TWalkTestForm::Message(const std::string& text, const std::string& caption, PromptIcon icon)
{
    main_.Prompt().Message(text, caption, icon);
}

TWalkTestForm* AttachWalkTestForm(TMainForm& main, TGlobalState& state)
{
    auto* form = new TWalkTestForm(state, main, &main);
    main.SetWalkTestForm(form, [form](int cb) { form->Open(cb); });
    return form;
}

}  // namespace kestrel
