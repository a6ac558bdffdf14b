// The walk-test certificate as a reader gets it: the PDF turned back into
// text and word boxes by poppler, and kestrel-sheet --certificate's answers.
#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fstream>
#include <string>

#include "check/SettingsCheck.h"
#include "state/ConfigFile.h"
#include "state/Cp1251.h"
#include "walktest/WalkTest.h"
#include "walktest/ui/WalkCertificate.h"

namespace kestrel::test {
namespace {

struct TRun {
    int exit = -1;
    QString out, err;
};

TRun RunProgram(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    TRun r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exit = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

constexpr int64_t kStart = 1'800'000'000'000;

// Every UIR present (two pages of rows); UIR 1 inputs 1 and 2, UIR 2 input 1
// and UIR 5 input 2 monitored. UIR 1 input 1 passes, UIR 2 input 1 reports
// the wrong outputs, UIR 1 input 2 passes, UIR 5 input 2 is never flashed.
TWalkTest MadeTest()
{
    TCbSettings s = DefaultCbSettings();
    s.Name = W1251("Подстанция «Северная»");
    s.Address = 7;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            s.FuncTable[k][m] = static_cast<uint8_t>(1 << ((k + m) % 6));
    for (int i = 0; i < kUirCount; ++i) {
        TUirSettings& u = s.Uir[i];
        u.Present = 1;
        u.PollEnabled = 1;
        u.Name = W1251("Ввод " + std::to_string(i + 1));
        u.InputControl1 = u.InputControl2 = u.InputControl3 = 0;
    }
    s.Uir[0].InputControl1 = s.Uir[0].InputControl2 = s.Uir[1].InputControl1 = s.Uir[4].InputControl2 = 1;
    s.Uir[0].InputFunction2 = 2;
    TWalkTest t(s, 3, SettingsFingerprint(DeviceSettingsOf(s)), kStart);
    int64_t at = kStart;
    const auto send = [&](uint8_t code, uint8_t uir, uint8_t outputs) {
        TEventData e;
        e.Code = code;
        e.UirAddress = uir;
        e.Outputs = outputs;
        t.OnEvent(e, at += 1000);
    };
    send(0xA1, 1, 0);
    send(0xC0, 0, s.FuncTable[0][0]);
    send(0xD2, 0, 0);
    send(0xA1, 2, 0);
    send(0xC0, 0, 0x30);
    send(0xD2, 0, 0);
    send(0xA2, 1, 0);
    send(0xC0, 0, s.FuncTable[2][0]);
    t.Finish(at + 1000);
    return t;
}

class CertTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qApp) {
            if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "cert_test";
            static char* argv[] = {name, nullptr};
            new QGuiApplication(argc, argv);
        }
        ASSERT_TRUE(dir_.isValid());
    }

    QTemporaryDir dir_;
};

TEST_F(CertTest, ShowsEveryVerdictAndTheRemarksWithinThePage)
{
    if (QString(KESTREL_PDFTOTEXT).isEmpty())
        GTEST_SKIP() << "poppler-utils (pdftotext) not installed";
    const TWalkTest t = MadeTest();
    ASSERT_EQ(t.Result(2, 1).Verdict, TInputVerdict::Failed);
    const std::string pdf = dir_.filePath("cert.pdf").toStdString();
    std::string error;
    ASSERT_TRUE(WriteWalkCertificate(pdf, t, {"подстанция", "1.001"}, error)) << error;

    const TRun text = RunProgram(KESTREL_PDFTOTEXT, {"-layout", QString::fromStdString(pdf), "-"});
    ASSERT_EQ(text.exit, 0) << text.err.toStdString();
    const QStringList pages = text.out.split('\f', Qt::SkipEmptyParts);
    ASSERT_GE(pages.size(), 2);
    const QString& all = text.out;
    // Row 1: the two passes, input 3 not monitored; row 2: the failure.
    EXPECT_TRUE(all.contains(QRegularExpression("\\b1\\s+Ввод 1\\s+норма .*норма .*не контролируется")));
    EXPECT_TRUE(all.contains(QRegularExpression("\\b2\\s+Ввод 2\\s+ошибка ")));
    for (const QString& want :
         {QString::fromStdString(t.Fingerprint()), QString("ЦБ №3 «Подстанция «Северная»»"), QString("подстанция"),
          QString::fromStdString("УИР 2, вход 1: ошибка, " + t.Result(2, 1).Reason),
          QString("УИР 5, вход 2: не проверен"), QString("норма — 2, ошибка — 1, не проверено — 1"),
          QString("Проверку провели"), QString("Дата"), QString("Лист 2 из %1").arg(pages.size())})
        EXPECT_TRUE(all.contains(want)) << want.toStdString();
    EXPECT_FALSE(all.contains("замечаний нет"));
    EXPECT_EQ(all.count("(Ф. И. О.)"), 2);
    EXPECT_EQ(all.count("(подпись)"), 2);
    EXPECT_TRUE(pages[1].contains("Результат") && pages[1].contains("Вход 3")) << "the header repeats";

    const TRun boxes = RunProgram(KESTREL_PDFTOTEXT, {"-bbox", QString::fromStdString(pdf), "-"});
    ASSERT_EQ(boxes.exit, 0);
    const QRegularExpression pageRe("<page width=\"([0-9.]+)\" height=\"([0-9.]+)\">");
    const QRegularExpression wordRe(
        "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>");
    int words = 0;
    for (const QString& page : boxes.out.split("</page>")) {
        const auto size = pageRe.match(page);
        if (!size.hasMatch())
            continue;
        const double w = size.captured(1).toDouble(), h = size.captured(2).toDouble(), margin = 20;
        for (auto it = wordRe.globalMatch(page); it.hasNext(); ++words) {
            const auto m = it.next();
            const auto at = [&](int i) { return m.captured(i).toDouble(); };
            EXPECT_TRUE(at(1) >= margin && at(2) >= margin && at(3) <= w - margin && at(4) <= h - margin)
                << m.captured(5).toStdString() << " at " << at(1) << "," << at(2);
        }
    }
    EXPECT_GT(words, 43 * 4);
}

TEST_F(CertTest, ToolWritesOnlyFromAWholeTestFile)
{
    const std::string image = MadeTest().Serialize();
    const auto save = [&](const char* name, const std::string& bytes) {
        std::ofstream(dir_.filePath(name).toStdString(), std::ios::binary) << bytes;
        return dir_.filePath(name);
    };
    const QString out = dir_.filePath("out.pdf");
    const struct {
        const char* what;
        QString file;
        int exit;
    } cases[] = {
        {"whole", save("good.walk", image), 0},
        {"cut short", save("short.walk", image.substr(0, image.size() - 10)), 1},
    };
    for (const auto& c : cases) {
        QFile::remove(out);
        const TRun r = RunProgram(KESTREL_SHEET_TOOL, {"--certificate", c.file, out});
        EXPECT_EQ(r.exit, c.exit) << c.what << ": " << r.err.toStdString();
        EXPECT_EQ(QFile::exists(out), c.exit == 0) << c.what;
    }
}

}  // namespace
}  // namespace kestrel::test
