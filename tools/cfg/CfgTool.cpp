#include "CfgTool.h"

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <sstream>

#include "state/Cp1251.h"
#include "state/FileIo.h"

namespace kestrel::cfgtool {

namespace {

constexpr const char* kUsage =
    "usage: kestrel-cfg show FILE              print every stored field, one per line (UTF-8)\n"
    "       kestrel-cfg new FILE [--cbs N]     write a new configuration: one CB with its 43 UIRs,\n"
    "                                          or N CBs (1..255) at addresses 1..N named \"ЦБ 1\"..\"ЦБ N\"\n"
    "       kestrel-cfg check FILE             validate the file\n"
    "       kestrel-cfg --help | -h            this text\n"
    "new keeps an existing FILE's bytes first, in FILE.damaged-N (not a readable configuration)\n"
    "or FILE.old-N (a readable one), N = 1, 2, ...: the first free name.\n"
    "exit status: 0 ok, 1 bad or unreadable file (or one that cannot be written), 2 bad usage\n";

std::string ShowPath(const std::filesystem::path& p)
{
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

std::string Hex2(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
    return buf;
}

// Reads and parses; on failure says why on err.
bool Load(const std::string& file, std::vector<TCbSettings>& cbs, std::vector<ConfigNote>* notes,
          std::size_t& size, std::ostream& err)
{
    std::string bytes;
    switch (ReadWholeFile(std::filesystem::path(file), bytes, kMaxConfigFileBytes)) {
    case ReadFileResult::Ok:
        break;
    case ReadFileResult::CannotOpen:
        err << "kestrel-cfg: " << file << ": cannot open the file\n";
        return false;
    case ReadFileResult::ReadError:
        err << "kestrel-cfg: " << file << ": read error after " << bytes.size() << " bytes\n";
        return false;
    case ReadFileResult::NotRegular:
        err << "kestrel-cfg: " << file << ": not a plain file (a FIFO, a device, ...); not read\n";
        return false;
    case ReadFileResult::TooLarge:
        err << "kestrel-cfg: " << file << ": larger than the largest valid configuration (" << kMaxConfigFileBytes
            << " bytes); not read\n";
        return false;
    }
    size = bytes.size();
    ConfigError error;
    if (ParseConfig(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), cbs, error, notes) != 0) {
        err << "kestrel-cfg: " << file << ": bad configuration file: " << error.Describe() << "\n";
        return false;
    }
    return true;
}

int CmdShow(const std::string& file, std::ostream& out, std::ostream& err)
{
    std::vector<TCbSettings> cbs;
    std::size_t size = 0;
    if (!Load(file, cbs, nullptr, size, err))
        return kExitBadFile;
    // Nothing is printed before the whole file has been read.
    std::ostringstream text;
    Show(cbs, text);
    out << text.str();
    return kExitOk;
}

int CmdNew(const std::string& file, int cbs, std::ostream& out, std::ostream& err)
{
    const std::string image = SerializeConfig(NewConfiguration(cbs));
    const std::filesystem::path path(file);
    const TKeptCopy kept = KeepCopyBeforeReplacing(path);
    if (kept.result == KeepCopyResult::Failed) {
        err << "kestrel-cfg: " << file << ": left as it is, since no copy of it could be kept: " << kept.reason
            << "\n";
        return kExitBadFile;
    }
    if (kept.result == KeepCopyResult::Kept)
        err << "kestrel-cfg: " << file << (kept.damaged ? ": not a readable configuration" : ": a configuration")
            << "; its bytes are kept in " << ShowPath(kept.copy) << "\n";
    switch (ReplaceFileAtomically(path, image)) {
    case ReplaceFileResult::Ok:
        if (cbs == 0)
            out << file << ": default configuration written, " << image.size() << " bytes\n";
        else
            out << file << ": " << cbs << " CB(s) written, " << image.size() << " bytes\n";
        return kExitOk;
    case ReplaceFileResult::CannotCreate:
        err << "kestrel-cfg: " << file << ": cannot create the file\n";
        return kExitBadFile;
    case ReplaceFileResult::WriteFailed:
        break;
    }
    err << "kestrel-cfg: " << file << ": write failed; any previous file is unchanged\n";
    return kExitBadFile;
}

int CmdCheck(const std::string& file, std::ostream& out, std::ostream& err)
{
    std::vector<TCbSettings> cbs;
    std::vector<ConfigNote> notes;
    std::size_t size = 0;
    if (!Load(file, cbs, &notes, size, err))
        return kExitBadFile;
    for (const ConfigNote& n : notes)
        out << file << ": warning: " << n.field << " at byte offset " << n.offset << ": " << n.text << "\n";
    out << file << ": ok, " << cbs.size() << " CB(s), " << size << " bytes\n";
    return kExitOk;
}

// A whole number 1..kMaxCbCount, nothing else.
bool ParseCbCount(const std::string& text, int& n)
{
    if (text.empty() || text.size() > 3)
        return false;
    int v = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9')
            return false;
        v = v * 10 + (ch - '0');
    }
    if (v < 1 || v > kMaxCbCount)
        return false;
    n = v;
    return true;
}

int UsageError(const std::string& what, std::ostream& err)
{
    err << "kestrel-cfg: " << what << "\n" << kUsage;
    return kExitUsage;
}

}  // namespace

std::vector<TCbSettings> NewConfiguration(int cbs)
{
    if (cbs <= 0)
        return {DefaultCbSettings()};
    std::vector<TCbSettings> out;
    out.reserve(static_cast<std::size_t>(cbs));
    for (int c = 1; c <= cbs; ++c) {
        TCbSettings cb = DefaultCbSettings();
        cb.Address = static_cast<uint8_t>(c);
        cb.Name = W1251("ЦБ " + std::to_string(c));
        out.push_back(std::move(cb));
    }
    return out;
}

std::string Quote(const Text& text)
{
    std::string out = "\"";
    for (unsigned char b : text) {
        if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (b < 0x20 || b == 0x7F || b == 0x98) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", b);
            out += buf;
        } else {
            out += Cp1251ToUtf8(std::string(1, static_cast<char>(b)));
        }
    }
    out += '"';
    return out;
}

void Show(const std::vector<TCbSettings>& cbs, std::ostream& out)
{
    out << "CbCount = " << cbs.size() << "\n";
    for (std::size_t c = 0; c < cbs.size(); ++c) {
        const TCbSettings& cb = cbs[c];
        const std::string p = "Cb[" + std::to_string(c) + "].";
        out << p << "Name = " << Quote(cb.Name) << "\n";
        out << p << "PowerName = " << Quote(cb.PowerName) << "\n";
        out << p << "ArcName = " << Quote(cb.ArcName) << "\n";
        out << p << "EmerName = " << Quote(cb.EmerName) << "\n";
        out << p << "MtzWait = " << unsigned(cb.MtzWait) << "\n";
        out << p << "UrovTimeMs = " << cb.UrovTimeMs << "\n";
        // [function][mode], listed mode by mode as the file stores them.
        for (int m = 0; m < 4; ++m)
            for (int k = 0; k < 4; ++k)
                out << p << "FuncTable[" << k << "][" << m << "] = " << Hex2(cb.FuncTable[k][m]) << "\n";
        out << p << "Enabled = " << unsigned(cb.Enabled) << "\n";
        out << p << "Baud = " << cb.Baud << "\n";
        out << p << "Address = " << unsigned(cb.Address) << "\n";
        out << p << "PortNumber = " << unsigned(cb.PortNumber) << "\n";
        out << p << "DataBits = " << cb.DataBits << "\n";
        out << p << "Parity = " << cb.Parity << "\n";
        out << p << "StopBits = " << cb.StopBits << "\n";
        for (int i = 0; i < kUirCount; ++i) {
            const TUirSettings& u = cb.Uir[i];
            const std::string q = p + "Uir[" + std::to_string(i) + "].";
            out << q << "Present = " << unsigned(u.Present) << "\n";
            out << q << "Number = " << unsigned(u.Number) << "\n";
            out << q << "Name = " << Quote(u.Name) << "\n";
            out << q << "ChName1 = " << Quote(u.ChName1) << "\n";
            out << q << "ChName2 = " << Quote(u.ChName2) << "\n";
            out << q << "ChName3 = " << Quote(u.ChName3) << "\n";
            out << q << "OutputEnabled = " << unsigned(u.OutputEnabled) << "\n";
            out << q << "PollEnabled = " << unsigned(u.PollEnabled) << "\n";
            out << q << "InputControl1 = " << unsigned(u.InputControl1) << "\n";
            out << q << "InputControl2 = " << unsigned(u.InputControl2) << "\n";
            out << q << "InputControl3 = " << unsigned(u.InputControl3) << "\n";
            out << q << "InputFunction1 = " << unsigned(u.InputFunction1) << "\n";
            out << q << "InputFunction2 = " << unsigned(u.InputFunction2) << "\n";
            out << q << "InputFunction3 = " << unsigned(u.InputFunction3) << "\n";
        }
    }
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") {
            out << kUsage;
            return kExitOk;
        }
    if (args.size() == 1 && args[0] == "help") {
        out << kUsage;
        return kExitOk;
    }
    // The command, its file and, for new, --cbs N in any order after it.
    std::vector<std::string> plain;
    int cbs = 0;
    bool haveCbs = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--cbs") {
            if (haveCbs)
                return UsageError("--cbs given twice", err);
            if (i + 1 >= args.size() || !ParseCbCount(args[i + 1], cbs))
                return UsageError("--cbs needs a number of CBs 1.." + std::to_string(kMaxCbCount) +
                                      (i + 1 < args.size() ? ", not '" + args[i + 1] + "'" : std::string()),
                                  err);
            haveCbs = true;
            ++i;
        } else if (args[i].rfind("--", 0) == 0) {
            return UsageError("unknown option '" + args[i] + "'", err);
        } else {
            plain.push_back(args[i]);
        }
    }
    if (plain.size() != 2) {
        err << kUsage;
        return kExitUsage;
    }
    const std::string& cmd = plain[0];
    const std::string& file = plain[1];
    if (haveCbs && cmd != "new")
        return UsageError("--cbs belongs to new", err);
    if (cmd == "show")
        return CmdShow(file, out, err);
    if (cmd == "new")
        return CmdNew(file, cbs, out, err);
    if (cmd == "check")
        return CmdCheck(file, out, err);
    err << "kestrel-cfg: unknown command '" << cmd << "'\n" << kUsage;
    return kExitUsage;
}

}  // namespace kestrel::cfgtool
