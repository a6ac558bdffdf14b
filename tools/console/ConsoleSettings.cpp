#include "ConsoleSettings.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "check/BlockSettingsIo.h"
#include "check/SettingsCheck.h"
#include "state/ConfigFile.h"
#include "state/Cp1251.h"
#include "state/FileIo.h"

namespace kestrel::console {

namespace {

// The file whole, or why not: the engineer sees where it is damaged.
bool LoadWhole(const std::string& file, std::vector<TCbSettings>& cbs, std::string& why)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(NativePath(file), ec)) {
        why = file + ": no such file";
        return false;
    }
    std::ifstream in(NativePath(file), std::ios::binary);
    if (!in) {
        why = "cannot open " + file;
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > kMaxConfigFileBytes) {
        why = file + ": larger than any configuration file";
        return false;
    }
    ConfigError error;
    if (ParseConfig(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), cbs, error) != 0) {
        why = file + ": damaged: " + error.Describe();
        return false;
    }
    return true;
}

std::string Title(int index, const TCbSettings& cb)
{
    return "ЦБ " + std::to_string(index + 1) + " «" + U8(cb.Name) + "», адрес " + std::to_string(cb.Address);
}

void PrintDifferences(const std::vector<TSettingsDifference>& diffs, const TPrint& out)
{
    std::string group;
    for (const TSettingsDifference& d : diffs) {
        const std::string g = GroupHeading(d);
        if (g != group) {
            out(g);
            group = g;
        }
        out("  " + d.Text);
    }
}

}  // namespace

TCbSettings BlockAsFileSettings(const TCbData& link, const TDeviceSettings& block)
{
    TCbSettings s = DefaultCbSettings();
    s.Address = link.Address;
    s.Baud = link.Baud;
    s.PortNumber = link.PortNumber;
    s.DataBits = link.DataBits;
    s.Parity = link.Parity;
    s.StopBits = link.StopBits;
    ApplyDeviceSettings(s, block);
    return s;
}

int PickFileBlock(const std::vector<TCbSettings>& cbs, int cbNumber, uint8_t address, std::string& why)
{
    if (cbNumber > 0) {
        if (static_cast<size_t>(cbNumber) > cbs.size()) {
            why = "the file has " + std::to_string(cbs.size()) + " block(s), no block " + std::to_string(cbNumber);
            return -1;
        }
        return cbNumber - 1;
    }
    for (size_t i = 0; i < cbs.size(); ++i)
        if (cbs[i].Address == address)
            return static_cast<int>(i);
    why = "no block of the file has address " + std::to_string(address) + " (name one with --cb N)";
    return -1;
}

int RunCompare(TCbProtocol& p, const std::string& file, int cbNumber, const TPrint& out, const TPrint& err)
{
    std::vector<TCbSettings> cbs;
    std::string why;
    if (!LoadWhole(file, cbs, why)) {
        err(why);
        return 2;
    }
    const int index = PickFileBlock(cbs, cbNumber, p.Link().State().Cb(0)->Address, why);
    if (index < 0) {
        err(why);
        return 2;
    }
    TCbData scratch;
    const int r = ReadBlockSettings(p, 0, scratch);
    if (r < 0) {
        err("reading the block failed (" + std::to_string(r) + "): " + BlockReadFailureText(r));
        return 2;
    }
    const TDeviceSettings fileSide = DeviceSettingsOf(cbs[static_cast<size_t>(index)]);
    const TDeviceSettings block = DeviceSettingsOf(scratch);
    const std::vector<TSettingsDifference> diffs = CompareDeviceSettings(fileSide, block);
    const std::string title = Title(index, cbs[static_cast<size_t>(index)]);
    if (diffs.empty()) {
        out(title + ": совпадает с файлом, отпечаток " + SettingsFingerprint(block));
        return 0;
    }
    out(title + ": отличается от файла, различий: " + std::to_string(diffs.size()) + " (файл → ЦБ)");
    PrintDifferences(diffs, out);
    out("отпечаток файла: " + SettingsFingerprint(fileSide) + ", ЦБ: " + SettingsFingerprint(block));
    return 1;
}

int RunSnapshot(TCbProtocol& p, const std::string& outFile, const TPrint& out, const TPrint& err)
{
    TCbData scratch;
    const int r = ReadBlockSettings(p, 0, scratch);
    if (r < 0) {
        err("reading the block failed (" + std::to_string(r) + "): " + BlockReadFailureText(r));
        return 1;
    }
    // An ordinary file of one block: every tool of the program reads it. The
    // link settings are those the block answered at.
    const TDeviceSettings block = DeviceSettingsOf(scratch);
    const TCbSettings s = BlockAsFileSettings(*p.Link().State().Cb(0), block);
    if (ReplaceFileAtomically(NativePath(outFile), SerializeConfig({s})) != ReplaceFileResult::Ok) {
        err("cannot write " + outFile);
        return 1;
    }
    out("ЦБ, адрес " + std::to_string(s.Address) + ": настройки сохранены в " + outFile + ", отпечаток " +
        SettingsFingerprint(block));
    return 0;
}

int RunRestore(TCbProtocol& p, const std::string& file, int cbNumber, const std::function<bool()>& openPort,
               const TPrint& out, const TPrint& err)
{
    std::vector<TCbSettings> cbs;
    std::string why;
    if (!LoadWhole(file, cbs, why)) {
        err(why + "; nothing sent");
        return 2;
    }
    const int index = PickFileBlock(cbs, cbNumber, p.Link().State().Cb(0)->Address, why);
    if (index < 0) {
        err(why + "; nothing sent");
        return 2;
    }
    const TCbSettings& cb = cbs[static_cast<size_t>(index)];
    const std::vector<std::string> problems = RestoreProblems(cb);
    if (!problems.empty()) {
        err(Title(index, cb) + ": values a block cannot hold; nothing sent:");
        for (const std::string& line : problems)
            err("  " + line);
        return 2;
    }
    if (!openPort())
        return 1;
    const TDeviceSettings target = DeviceSettingsOf(cb);
    const TRestoreReport r = RestoreBlockSettings(p, 0, target);
    if (r.Result < 0) {
        err("restore not confirmed (" + std::to_string(r.Result) + "): " + BlockReadFailureText(r.Result));
        return 1;
    }
    out(Title(index, cb) + ": записано таблиц: " + std::to_string(r.TablesWritten) +
        ", сегментов УИР: " + std::to_string(r.SegmentsWritten));
    for (const std::string& u : r.Unacknowledged)
        out("  нет подтверждения записи: " + u);
    if (r.Result != 0) {
        out("не приняты блоком (файл → ЦБ):");
        PrintDifferences(r.NotTaken, out);
        return 1;
    }
    out("все значения подтверждены чтением, отпечаток " + SettingsFingerprint(r.After));
    return 0;
}

}  // namespace kestrel::console
