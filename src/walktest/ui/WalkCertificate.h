#pragma once
// The walk-test certificate: the test's results on paper (PDF, Qt's own
// writer), with the settings it was made with. Needs a QGuiApplication
// (offscreen will do).
#include <string>

#include "walktest/WalkTest.h"

namespace kestrel {

struct TCertificateData {
    std::string Installation;  // UTF-8: the configuration file's name
    std::string Version;       // the program's version
};

// false with the reason (UTF-8) when the file cannot be written.
bool WriteWalkCertificate(const std::string& pdfPath, const TWalkTest& test, const TCertificateData& d,
                          std::string& error);

}  // namespace kestrel
