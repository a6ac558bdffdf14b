#include "CfgTool.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <ostream>
#include <sstream>

#include "check/SettingsCheck.h"
#include "link/SerialDeviceOs.h"
#include "state/Cp1251.h"
#include "state/FileIo.h"
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "state/WinText.h"
#else
#include "state/SettingsStoreFile.h"
#endif

namespace kestrel::cfgtool {

namespace {

constexpr const char* kUsage =
    "usage: kestrel-cfg show FILE              print every stored field, one per line (UTF-8)\n"
    "       kestrel-cfg new FILE [--cbs N]     write a new configuration: one CB with its 43 UIRs,\n"
    "                                          or N CBs (1..255) at addresses 1..N named \"ЦБ 1\"..\"ЦБ N\"\n"
    "       kestrel-cfg check FILE             validate the file\n"
    "       kestrel-cfg compare A B            compare the blocks' settings (tables, UROV, MTZ wait,\n"
    "                                          UIR configuration), blocks matched by address;\n"
    "                                          exit 0 the same, 1 they differ, 2 a bad file or usage\n"
    "       kestrel-cfg port COMn PATH         use the device PATH for COMn (Linux), e.g. /dev/ttyUSB0 or\n"
    "                                          /dev/serial/by-id/...; PATH default: back to /dev/ttyS(n-1)\n"
    "       kestrel-cfg ports                  list the mapped ports and the serial devices present\n"
    "       kestrel-cfg --help | -h            this text\n"
    "new keeps an existing FILE's bytes first, in FILE.damaged-N (not a readable configuration)\n"
    "or FILE.old-N (a readable one), N = 1, 2, ...: the first free name.\n"
    "exit status: 0 ok, 1 bad or unreadable file (or one that cannot be written), 2 bad usage\n";

// A file named on the command line (UTF-8; on Linux the name's bytes) as
// the OS takes it: UTF-16 on Windows, the same bytes elsewhere.
std::filesystem::path FilePath(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

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
    switch (ReadWholeFile(FilePath(file), bytes, kMaxConfigFileBytes)) {
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

int CmdCompare(const std::string& fileA, const std::string& fileB, std::ostream& out, std::ostream& err)
{
    std::vector<TCbSettings> a, b;
    std::size_t size = 0;
    if (!Load(fileA, a, nullptr, size, err) || !Load(fileB, b, nullptr, size, err))
        return kExitUsage;  // as diff: trouble is 2, a difference 1
    std::ostringstream text;
    bool differ = false;
    const auto title = [](const TCbSettings& cb) {
        return "ЦБ, адрес " + std::to_string(cb.Address) + " «" + U8(cb.Name) + "»";
    };
    std::vector<bool> matched(b.size(), false);
    for (const TCbSettings& x : a) {
        std::size_t j = 0;
        while (j < b.size() && (matched[j] || b[j].Address != x.Address))
            ++j;
        if (j == b.size()) {
            text << title(x) << ": только в " << fileA << "\n";
            differ = true;
            continue;
        }
        matched[j] = true;
        const TDeviceSettings dx = DeviceSettingsOf(x), dy = DeviceSettingsOf(b[j]);
        const std::vector<TSettingsDifference> diffs = CompareDeviceSettings(dx, dy);
        if (diffs.empty()) {
            text << title(x) << ": совпадает, отпечаток " << SettingsFingerprint(dx) << "\n";
            continue;
        }
        differ = true;
        text << title(x) << ": различий: " << diffs.size() << " (" << fileA << " → " << fileB << ")\n";
        std::string group;
        for (const TSettingsDifference& d : diffs) {
            if (GroupHeading(d) != group) {
                group = GroupHeading(d);
                text << group << "\n";
            }
            text << "  " << d.Text << "\n";
        }
        text << "отпечаток: " << SettingsFingerprint(dx) << " → " << SettingsFingerprint(dy) << "\n";
    }
    for (std::size_t j = 0; j < b.size(); ++j) {
        if (!matched[j]) {
            text << title(b[j]) << ": только в " << fileB << "\n";
            differ = true;
        }
    }
    out << text.str();
    return differ ? 1 : kExitOk;
}

int CmdNew(const std::string& file, int cbs, std::ostream& out, std::ostream& err)
{
    const std::string image = SerializeConfig(NewConfiguration(cbs));
    const std::filesystem::path path = FilePath(file);
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

namespace {

#ifndef _WIN32
const std::string kPortsKey = "Software\\KestrelUtilite\\Ports";

// The port mapping lives in the file store only; a registry system names its
// ports itself.
TFileSettingsStore* PortStore(ISettingsStore* store, std::ostream& err)
{
    auto* files = dynamic_cast<TFileSettingsStore*>(store);
    if (!files)
        err << "kestrel-cfg: this system names its serial ports itself (\\\\.\\COMn); there is nothing to map\n";
    else if (files->Root().empty())
        err << "kestrel-cfg: no settings folder: neither XDG_CONFIG_HOME nor HOME is set\n";
    else
        return files;
    return nullptr;
}

// " (missing)", " (no permission: ...)" or "" for a device path.
std::string PortState(const std::string& path)
{
    const uint32_t e = CheckPortAccess(path);
    return e == 0 ? std::string() : " (" + PortOpenErrorText(e) + ")";
}

int CmdPort(const std::string& name, const std::string& path, ISettingsStore* store, std::ostream& out,
            std::ostream& err)
{
    const int n = ParsePortName(name);
    if (n == 0)
        return UsageError("'" + name + "' is not a port name COM1..COM255", err);
    TFileSettingsStore* files = PortStore(store, err);
    if (!files)
        return kExitBadFile;
    const std::filesystem::path file = files->ValueFile(kPortsKey, "COM" + std::to_string(n));
    std::error_code ec;
    if (path == "default") {
        std::filesystem::remove(file, ec);
        if (ec) {
            err << "kestrel-cfg: " << ShowPath(file) << ": cannot remove: " << ec.message() << "\n";
            return kExitBadFile;
        }
        out << "COM" << n << " = " << DefaultPortPath(n) << " (default)\n";
        return kExitOk;
    }
    if (path.empty() || path.front() != '/' || path.find_first_of("\r\n") != std::string::npos)
        return UsageError("the device must be an absolute path such as /dev/ttyUSB0, not '" + path + "'", err);
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ReplaceFileAtomically(file, path) != ReplaceFileResult::Ok) {
        err << "kestrel-cfg: " << ShowPath(file) << ": cannot write the port setting\n";
        return kExitBadFile;
    }
    // Saved either way: an adapter may be mapped before it is plugged in.
    out << "COM" << n << " = " << path << PortState(path) << "\n";
    return kExitOk;
}

int CmdPorts(ISettingsStore* store, std::ostream& out, std::ostream& err)
{
    TFileSettingsStore* files = PortStore(store, err);
    if (!files)
        return kExitBadFile;
    std::vector<int> mapped;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(files->KeyFolder(kPortsKey), ec), end; !ec && it != end;
         it.increment(ec)) {
        const int n = ParsePortName(ShowPath(it->path().filename()));
        if (n != 0 && !PortPathFromSettings(*files, n).empty())
            mapped.push_back(n);
    }
    std::sort(mapped.begin(), mapped.end());
    for (int n : mapped) {
        const std::string path = PortPathFromSettings(*files, n);
        out << "COM" << n << " = " << path << PortState(path) << "\n";
    }
    out << (mapped.empty() ? "every" : "every other") << " COMn = /dev/ttyS(n-1)\n";
    // What is plugged in, by its stable name first.
    std::vector<std::string> seen;
    for (std::filesystem::directory_iterator it("/dev/serial/by-id", ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ec2;
        const auto target = std::filesystem::canonical(it->path(), ec2);
        seen.push_back(ShowPath(it->path()) + (ec2 ? std::string() : " -> " + ShowPath(target)));
    }
    ec.clear();
    for (std::filesystem::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string leaf = ShowPath(it->path().filename());
        if (leaf.rfind("ttyUSB", 0) == 0 || leaf.rfind("ttyACM", 0) == 0)
            seen.push_back(ShowPath(it->path()));
    }
    std::sort(seen.begin(), seen.end());
    out << "serial adapters present:" << (seen.empty() ? " none" : "") << "\n";
    for (const std::string& s : seen)
        out << "  " << s << PortState(s.substr(0, s.find(" -> "))) << "\n";
    return kExitOk;
}

#else
// Windows names its serial ports itself (\\.\COMn).
int CmdPort(const std::string& name, const std::string&, ISettingsStore*, std::ostream&, std::ostream& err)
{
    if (ParsePortName(name) == 0)
        return UsageError("'" + name + "' is not a port name COM1..COM255", err);
    err << "kestrel-cfg: this system names its serial ports itself (\\\\.\\COMn); there is nothing to map\n";
    return kExitBadFile;
}

int CmdPorts(ISettingsStore*, std::ostream&, std::ostream& err)
{
    err << "kestrel-cfg: this system names its serial ports itself (\\\\.\\COMn); there is nothing to map\n";
    return kExitBadFile;
}
#endif

}  // namespace

bool ProgramArgs(int argc, char** argv, std::vector<std::string>& args)
{
    args.clear();
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int n = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!wide)
        return false;
    bool ok = true;
    for (int i = 1; i < n && ok; ++i) {
        std::string utf8;
        ok = Utf8FromWide(wide[i], utf8);
        args.push_back(std::move(utf8));
    }
    LocalFree(wide);
    return ok;
#else
    if (argc > 1)
        args.assign(argv + 1, argv + argc);
    return true;
#endif
}

int ParsePortName(const std::string& name)
{
    if (name.size() < 4 || name.size() > 6)
        return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return 0;
    if (name[3] == '0')
        return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n <= 255 ? n : 0;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, ISettingsStore* store)
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
    if (!args.empty() && (args[0] == "port" || args[0] == "ports")) {
        const bool one = args[0] == "port";
        if (args.size() != (one ? 3u : 1u))
            return UsageError(one ? "port needs COMn and a device path" : "ports takes no arguments", err);
        std::unique_ptr<ISettingsStore> own;
        if (!store) {
            own = MakeUserSettingsStore();
            store = own.get();
        }
        return one ? CmdPort(args[1], args[2], store, out, err) : CmdPorts(store, out, err);
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
    if (plain.size() == 3 && plain[0] == "compare") {
#ifdef _WIN32
        if (!IsUtf8(plain[1]) || !IsUtf8(plain[2]))
            return UsageError("the file name is not UTF-8 text", err);
#endif
        if (haveCbs)
            return UsageError("--cbs belongs to new", err);
        return CmdCompare(plain[1], plain[2], out, err);
    }
    if (plain.size() != 2) {
        err << kUsage;
        return kExitUsage;
    }
    const std::string& cmd = plain[0];
    const std::string& file = plain[1];
#ifdef _WIN32
    // Windows names are UTF-16: text that is not UTF-8 names none of them.
    if (!IsUtf8(file))
        return UsageError("the file name is not UTF-8 text", err);
#endif
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
