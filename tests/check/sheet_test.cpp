// The settings sheet as a reader gets it: the PDF turned back into text and
// word boxes by poppler, and kestrel-sheet's answers to good and bad input.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "check/SettingsCheck.h"
#include "check/ui/SettingsSheet.h"
#include "state/ConfigFile.h"
#include "state/Cp1251.h"

namespace kestrel::test {
namespace {

void EnsureApp()
{
    static QGuiApplication* app = nullptr;
    if (app)
        return;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "sheet_test";
    static char* argv[] = {name, nullptr};
    app = new QGuiApplication(argc, argv);
}

struct TRun {
    int exit = -1;
    QString out, err;
};

TRun RunProgram(const QString& program, const QStringList& args, bool bareEnv = false)
{
    QProcess p;
    if (bareEnv) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        p.setProcessEnvironment(env);
    }
    p.start(program, args);
    TRun r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exit = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Bits 6 and 7 of the last byte are no outputs and must not show.
constexpr std::array<uint8_t, 16> kTables = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x3F, 0x00,
                                             0x15, 0x2A, 0x03, 0x30, 0x21, 0x0C, 0x12, 0xC1};

TCbSettings Block(const char* name)
{
    TCbSettings s = DefaultCbSettings();
    s.Name = W1251(name);
    s.Address = 7;
    s.Baud = 19200;
    s.UrovTimeMs = 350;
    s.MtzWait = 1;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            s.FuncTable[k][m] = kTables[k * 4 + m];
    for (int i = 0; i < kUirCount; ++i) {
        TUirSettings& u = s.Uir[i];
        u.Present = i != 9;  // UIR 10 is not connected
        u.Name = W1251("Ввод " + std::to_string(i + 1));
        u.ChName1 = W1251("Датчик А");
        u.InputFunction2 = static_cast<uint8_t>(i % 4);
        u.PollEnabled = 1;
    }
    // Far wider than its cell: shrunk or shortened, never over the next one.
    s.Uir[4].Name = W1251("Ввод 5 резервного питания секции шин номер два (ячейка 17)");
    s.Uir[4].ChName3 = W1251("Датчик дуги отсека выключателя");
    return s;
}

class SheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApp();
        ASSERT_TRUE(dir_.isValid());
        if (QString(KESTREL_PDFTOTEXT).isEmpty() || QString(KESTREL_PDFTOPPM).isEmpty())
            GTEST_SKIP() << "poppler-utils (pdftotext, pdftoppm) not installed";
    }

    std::string PathOf(const char* name) const { return dir_.filePath(name).toStdString(); }

    // The sheet of Block(), as the settings check would write it.
    std::string WriteSheet(const TCbSettings& s)
    {
        TSheetData d;
        d.Installation = "подстанция.cfg";
        d.BlockNumber = 3;
        d.Settings = s;
        d.Source = "ЦБ";
        d.ReadAt = "11.12.2026 14:39:20";
        d.Version = "1.001";
        d.Fingerprint = SettingsFingerprint(DeviceSettingsOf(s));
        const std::string pdf = PathOf("sheet.pdf");
        std::string error;
        EXPECT_TRUE(WriteSettingsSheet(pdf, d, error)) << error;
        return pdf;
    }

    // The pages' texts in reading layout.
    static QStringList Pages(const std::string& pdf)
    {
        const TRun r = RunProgram(KESTREL_PDFTOTEXT, {"-layout", QString::fromStdString(pdf), "-"});
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
        QStringList pages = r.out.split('\f');
        if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
            pages.removeLast();
        return pages;
    }

    QTemporaryDir dir_;
};

TEST_F(SheetTest, ShowsTheBlockOverTwoPagesWithEveryPresentUir)
{
    const TCbSettings s = Block("Подстанция «Северная», ЦБ-3");
    const std::string pdf = WriteSheet(s);
    ASSERT_EQ(RunProgram(KESTREL_PDFTOPPM, {"-png", "-r", "60", QString::fromStdString(pdf), dir_.filePath("p")}).exit, 0);
    EXPECT_EQ(QDir(dir_.path()).entryList({"p-*.png"}).size(), 2);

    const QStringList pages = Pages(pdf);
    ASSERT_EQ(pages.size(), 2);
    const QString all = pages.join('\n');
    const std::string fingerprint = SettingsFingerprint(DeviceSettingsOf(s));
    for (const QString& want :
         {QString("Подстанция «Северная», ЦБ-3"), QString("подстанция.cfg"), QString::fromStdString(fingerprint),
          QString("19200 бит/с"), QString("Без МТЗ / МТЗ-v"), QString("МТЗ-1"), QString("МТЗ-3"),
          QString("Время УРОВ: 350 мс"), QString("МТЗ: ждать"), QString("Датчик А"), QString("Ввод 9"),
          QString("Лист 1 из 2"), QString("Лист 2 из 2")})
        EXPECT_TRUE(all.contains(want)) << want.toStdString();
    EXPECT_FALSE(all.contains("Ввод 10")) << "a UIR that is not connected";
    EXPECT_TRUE(pages[1].contains(QRegularExpression("\\b43\\s+Ввод 43\\b")));
    EXPECT_FALSE(pages[0].contains("Ввод 43"));
    // The header repeats over the continued table.
    EXPECT_TRUE(pages[1].contains("Название") && pages[1].contains("Вход 3"));
}

TEST_F(SheetTest, EachOutputIsUnderItsPort)
{
    const QStringList pages = Pages(WriteSheet(Block("ЦБ 1")));
    ASSERT_FALSE(pages.isEmpty());
    // The four tables side by side: "F1 0 1 0 0 0 0  F1 ..." once for each mode.
    int rows = 0;
    for (const QString& line : pages[0].split('\n')) {
        const QStringList t = line.split(' ', Qt::SkipEmptyParts);
        if (t.size() != 28 || !t[0].startsWith('F'))
            continue;
        const int k = t[0].mid(1).toInt();
        ASSERT_EQ(rows, k) << line.toStdString();
        for (int m = 0; m < 4; ++m) {
            ASSERT_EQ(t[m * 7], t[0]) << line.toStdString();
            for (int port = 1; port <= 6; ++port) {
                const bool on = (kTables[k * 4 + m] >> (port - 1)) & 1;
                EXPECT_EQ(t[m * 7 + port], on ? "1" : "0") << "F" << k << ", mode " << m << ", output " << port;
            }
        }
        ++rows;
    }
    EXPECT_EQ(rows, 4);
}

TEST_F(SheetTest, NoWordLeavesThePageOrRunsIntoAnother)
{
    const std::string pdf = WriteSheet(Block("Подстанция «Северная», ЦБ-3 секция шин 2"));
    const TRun r = RunProgram(KESTREL_PDFTOTEXT, {"-bbox", QString::fromStdString(pdf), "-"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    const QRegularExpression pageRe("<page width=\"([0-9.]+)\" height=\"([0-9.]+)\">");
    const QRegularExpression wordRe(
        "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>");
    const QStringList pages = r.out.split("</page>");
    int words = 0;
    for (const QString& page : pages) {
        const auto size = pageRe.match(page);
        if (!size.hasMatch())
            continue;
        const double w = size.captured(1).toDouble(), h = size.captured(2).toDouble();
        struct TBox {
            double x0, y0, x1, y1;
            QString text;
        };
        std::vector<TBox> boxes;
        for (auto it = wordRe.globalMatch(page); it.hasNext();) {
            const auto m = it.next();
            const auto at = [&](int i) { return m.captured(i).toDouble(); };
            boxes.push_back({at(1), at(2), at(3), at(4), m.captured(5)});
        }
        constexpr double kMargin = 20;  // points, about 7 mm
        for (const TBox& b : boxes) {
            EXPECT_TRUE(b.x0 >= kMargin && b.y0 >= kMargin && b.x1 <= w - kMargin && b.y1 <= h - kMargin)
                << b.text.toStdString() << " at " << b.x0 << "," << b.y0;
        }
        // Glyph boxes of neighbouring cells may touch, never overlap.
        for (size_t i = 0; i < boxes.size(); ++i)
            for (size_t j = i + 1; j < boxes.size(); ++j) {
                const TBox &a = boxes[i], &b = boxes[j];
                const double dx = std::min(a.x1, b.x1) - std::max(a.x0, b.x0);
                const double dy = std::min(a.y1, b.y1) - std::max(a.y0, b.y0);
                EXPECT_FALSE(dx > 0.5 && dy > 0.5) << a.text.toStdString() << " / " << b.text.toStdString();
            }
        words += static_cast<int>(boxes.size());
    }
    EXPECT_GT(words, 43 * 10);
}

TEST_F(SheetTest, ToolExitCodes)
{
    const TCbSettings one = Block("ЦБ 1"), two = Block("Ячейка 12, ЦБ-2");
    const std::string image = SerializeConfig({one, two});
    const auto save = [&](const char* name, const std::string& bytes) {
        std::ofstream(PathOf(name), std::ios::binary) << bytes;
        return QString::fromStdString(PathOf(name));
    };
    const QString good = save("two.cfg", image), shortFile = save("short.cfg", image.substr(0, 100));
    const QString out = dir_.filePath("out.pdf");
    struct TCase {
        const char* what;
        QStringList args;
        int exit;
        bool pdf;
    };
    const TCase cases[] = {
        {"second block", {good, out, "--cb", "2"}, 0, true},
        {"first by default", {good, out}, 0, true},
        {"damaged file", {shortFile, out}, 1, false},
        {"missing file", {dir_.filePath("none.cfg"), out}, 1, false},
        {"no such block", {good, out, "--cb", "3"}, 1, false},
        {"folder missing", {good, dir_.filePath("none/out.pdf")}, 1, false},
        {"a folder in the way", {good, dir_.path()}, 1, false},
        {"block 0", {good, out, "--cb", "0"}, 2, false},
        {"block not a number", {good, out, "--cb", "x"}, 2, false},
        {"no output", {good}, 2, false},
        {"unknown option", {good, out, "--pages"}, 2, false},
        {"over its own file", {good, good}, 2, false},
    };
    for (const TCase& c : cases) {
        QFile::remove(out);
        const TRun r = RunProgram(KESTREL_SHEET_TOOL, c.args, true);
        EXPECT_EQ(r.exit, c.exit) << c.what << ": " << r.err.toStdString();
        EXPECT_EQ(QFile::exists(out), c.pdf) << c.what;
        if (c.exit != 0) {
            EXPECT_TRUE(r.err.startsWith("kestrel-sheet: ")) << c.what << ": " << r.err.toStdString();
        }
    }
    QFile kept(good);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll().toStdString(), image) << "the configuration file was written over";
    EXPECT_EQ(RunProgram(KESTREL_SHEET_TOOL, {good, out, "--cb", "2"}, true).exit, 0);
    const QString text = Pages(out.toStdString()).join('\n');
    EXPECT_TRUE(text.contains("№2 «Ячейка 12, ЦБ-2»"));
    EXPECT_TRUE(text.contains("файл конфигурации"));
    EXPECT_TRUE(text.contains(QString::fromStdString(SettingsFingerprint(DeviceSettingsOf(two)))));

    const TRun help = RunProgram(KESTREL_SHEET_TOOL, {"--help"});
    EXPECT_EQ(help.exit, 0);
    EXPECT_TRUE(help.out.startsWith("usage: kestrel-sheet"));
}

}  // namespace
}  // namespace kestrel::test
