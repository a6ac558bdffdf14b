#pragma once
// The settings sheet: one block's settings on paper (PDF, Qt's own writer),
// for the service engineer's records. Needs a QGuiApplication (the
// offscreen platform will do); no window is shown.
#include <cstdint>
#include <string>

#include "state/Model.h"

namespace kestrel {

struct TSheetData {
    std::string Installation;  // UTF-8: the configuration file's name
    int BlockNumber = 1;       // as the block list numbers it (index + 1)
    // Names, presence and link settings as the file has them; the block's
    // own settings (tables, UROV, MTZ wait, UIR configuration) as the sheet
    // is to show them: read from the block, or the file's.
    TCbSettings Settings;
    std::string Source;        // UTF-8: whose settings these are, "ЦБ" or "файл конфигурации"
    std::string ReadAt;        // UTF-8: the PC time of the reading, "11.12.2026 14:39:20"
    std::string Version;       // the program's version, "1.001"
    std::string Fingerprint;   // SettingsFingerprint of the settings shown
};

// Writes the sheet; false with the reason (UTF-8) when the file cannot be
// written. The path is UTF-8, whole.
bool WriteSettingsSheet(const std::string& pdfPath, const TSheetData& d, std::string& error);

}  // namespace kestrel
