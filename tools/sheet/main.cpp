// kestrel-sheet FILE OUT.pdf [--cb N]: the settings sheet of block N (from 1)
// of a configuration file, as the settings check prints it for a block.
// kestrel-sheet --certificate TESTFILE OUT.pdf: the certificate of a walk
// test from its file. Exit status: 0 written, 1 unreadable file, no such
// block or a PDF that cannot be written, 2 bad usage.
#include <QDateTime>
#include <QGuiApplication>
#include <QtGlobal>

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "CfgTool.h"
#include "check/SettingsCheck.h"
#include "check/ui/SettingsSheet.h"
#include "state/ConfigFile.h"
#include "state/FileIo.h"
#ifdef KESTREL_WITH_WALKTEST
#include "walktest/WalkTest.h"
#include "walktest/ui/WalkCertificate.h"
#endif

namespace {

constexpr int kExitOk = 0, kExitBad = 1, kExitUsage = 2;

const char* const kUsage =
    "usage: kestrel-sheet FILE OUT.pdf [--cb N]\n"
    "       kestrel-sheet --certificate TESTFILE OUT.pdf\n"
    "  the settings sheet (A4 PDF) of central block N (1 = the first, the default)\n"
    "  of the configuration file FILE, with the settings the file holds;\n"
    "  --certificate: the walk-test certificate (A4 PDF) of the test file TESTFILE\n"
    "  (written by the walk-test window or kestrel-console walktest --out)\n"
    "exit status: 0 written, 1 unreadable file, no such block or OUT not\n"
    "written, 2 bad usage\n";

int Usage(const std::string& what)
{
    std::cerr << "kestrel-sheet: " << what << "\n" << kUsage;
    return kExitUsage;
}

bool ParseBlock(const std::string& s, int& n)
{
    if (s.empty() || s.size() > 3 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    n = std::stoi(s);
    return n >= 1 && n <= kestrel::kMaxCbCount;
}

// The file's own name, as the sheet calls the installation.
std::string FileName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Load(const std::string& file, std::vector<kestrel::TCbSettings>& cbs)
{
    using namespace kestrel;
    std::string bytes;
    switch (ReadWholeFile(NativePath(file), bytes, kMaxConfigFileBytes)) {
    case ReadFileResult::Ok:
        break;
    case ReadFileResult::CannotOpen:
        std::cerr << "kestrel-sheet: " << file << ": cannot open the file\n";
        return false;
    case ReadFileResult::ReadError:
        std::cerr << "kestrel-sheet: " << file << ": read error after " << bytes.size() << " bytes\n";
        return false;
    case ReadFileResult::NotRegular:
        std::cerr << "kestrel-sheet: " << file << ": not a plain file (a FIFO, a device, ...); not read\n";
        return false;
    case ReadFileResult::TooLarge:
        std::cerr << "kestrel-sheet: " << file << ": larger than the largest valid configuration; not read\n";
        return false;
    }
    ConfigError error;
    if (ParseConfig(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), cbs, error) != 0) {
        std::cerr << "kestrel-sheet: " << file << ": bad configuration file: " << error.Describe() << "\n";
        return false;
    }
    return true;
}

// The test file's name without its extension, as the certificate calls
// the installation.
std::string Stem(const std::string& path)
{
    std::string name = FileName(path);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name.empty() ? "—" : name;
}

// Qt's notes (the offscreen platform's about a run-time folder, say) are
// nothing the user acts on; its errors still reach standard error.
void QtMessage(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::cerr << "kestrel-sheet: " << text.toStdString() << "\n";
}

void StartQt()
{
#ifndef _WIN32
    // No display needed. (Windows' own platform needs none either, and the
    // package carries no other.)
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    qInstallMessageHandler(QtMessage);
}

#ifdef KESTREL_WITH_WALKTEST
int Certificate(const std::string& file, const std::string& out, char* program)
{
    kestrel::TWalkTest test;
    std::string why;
    if (!kestrel::TWalkTest::LoadFrom(file, test, why)) {
        std::cerr << "kestrel-sheet: " << file << ": " << why << "\n";
        return kExitBad;
    }
    int qtArgc = 1;
    char* qtArgv[] = {program, nullptr};
    StartQt();
    QGuiApplication app(qtArgc, qtArgv);
    const kestrel::TCertificateData d{Stem(file), KESTREL_VERSION};
    if (!kestrel::WriteWalkCertificate(out, test, d, why)) {
        std::cerr << "kestrel-sheet: " << out << ": " << why << "\n";
        return kExitBad;
    }
    const kestrel::TWalkSummary s = test.Summary();
    std::cout << "kestrel-sheet: " << out << ": block " << test.BlockNumber() << ", " << s.Passed << " of "
              << s.Monitored << " inputs passed, fingerprint " << test.Fingerprint() << "\n";
    return kExitOk;
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args;
    if (!kestrel::cfgtool::ProgramArgs(argc, argv, args)) {
        std::cerr << "kestrel-sheet: an argument holds characters that no file name can carry\n";
        return kExitUsage;
    }
    std::vector<std::string> plain;
    int block = 1;
    bool blockGiven = false, certificate = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return kExitOk;
        }
        if (a == "--cb") {
            if (i + 1 >= args.size() || !ParseBlock(args[i + 1], block))
                return Usage("--cb takes a block number 1.." + std::to_string(kestrel::kMaxCbCount));
            ++i;
            blockGiven = true;
        } else if (a == "--certificate") {
            certificate = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option " + a);
        } else {
            plain.push_back(a);
        }
    }
    if (certificate && blockGiven)
        return Usage("--cb is for a settings sheet; a test file names its block");
    if (plain.size() != 2)
        return Usage(certificate ? "a walk-test file and a PDF file are needed"
                                 : "a configuration file and a PDF file are needed");
    const std::string& file = plain[0];
    const std::string& out = plain[1];
    std::error_code ec;
    if (std::filesystem::equivalent(kestrel::NativePath(file), kestrel::NativePath(out), ec))
        return Usage(certificate ? "the certificate would replace the test file"
                                 : "the sheet would replace the configuration file");
#ifdef KESTREL_WITH_WALKTEST
    if (certificate)
        return Certificate(file, out, argv[0]);
#else
    if (certificate) {
        std::cerr << "kestrel-sheet: built without the walk test; no certificate\n";
        return kExitBad;
    }
#endif

    std::vector<kestrel::TCbSettings> cbs;
    if (!Load(file, cbs))
        return kExitBad;
    if (block > static_cast<int>(cbs.size())) {
        std::cerr << "kestrel-sheet: " << file << ": no block " << block << " (the file holds " << cbs.size()
                  << ")\n";
        return kExitBad;
    }

    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    StartQt();
    QGuiApplication app(qtArgc, qtArgv);

    kestrel::TSheetData d;
    d.Installation = FileName(file);
    d.BlockNumber = block;
    d.Settings = cbs[static_cast<size_t>(block - 1)];
    d.Source = "файл конфигурации";
    d.ReadAt = QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")).toStdString();
    d.Version = KESTREL_VERSION;
    d.Fingerprint = kestrel::SettingsFingerprint(kestrel::DeviceSettingsOf(d.Settings));
    std::string error;
    if (!kestrel::WriteSettingsSheet(out, d, error)) {
        std::cerr << "kestrel-sheet: " << out << ": " << error << "\n";
        return kExitBad;
    }
    std::cout << "kestrel-sheet: " << out << ": block " << block << ", fingerprint " << d.Fingerprint << "\n";
    return kExitOk;
}
