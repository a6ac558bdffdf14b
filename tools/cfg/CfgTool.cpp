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
    "usage: kestrel-cfg show FILE    print every stored field, one per line (UTF-8)\n"
    "       kestrel-cfg new FILE     write the default configuration (one CB, 43 UIRs)\n"
    "       kestrel-cfg check FILE   validate the file\n"
    "exit status: 0 ok, 1 bad or unreadable file, 2 bad usage\n";

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
    switch (ReadWholeFile(std::filesystem::path(file), bytes)) {
    case ReadFileResult::Ok:
        break;
    case ReadFileResult::CannotOpen:
        err << "kestrel-cfg: " << file << ": cannot open the file\n";
        return false;
    case ReadFileResult::ReadError:
        err << "kestrel-cfg: " << file << ": read error after " << bytes.size() << " bytes\n";
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

int CmdNew(const std::string& file, std::ostream& out, std::ostream& err)
{
    const std::string image = SerializeConfig({DefaultCbSettings()});
    switch (ReplaceFileAtomically(std::filesystem::path(file), image)) {
    case ReplaceFileResult::Ok:
        out << file << ": default configuration written, " << image.size() << " bytes\n";
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

}  // namespace

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
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        out << kUsage;
        return kExitOk;
    }
    if (args.size() != 2) {
        err << kUsage;
        return kExitUsage;
    }
    const std::string& cmd = args[0];
    const std::string& file = args[1];
    if (cmd == "show")
        return CmdShow(file, out, err);
    if (cmd == "new")
        return CmdNew(file, out, err);
    if (cmd == "check")
        return CmdCheck(file, out, err);
    err << "kestrel-cfg: unknown command '" << cmd << "'\n" << kUsage;
    return kExitUsage;
}

}  // namespace kestrel::cfgtool
