// libFuzzer target for the configuration reader. Beyond "no crash, no
// undefined behaviour, no runaway allocation", whatever the reader accepts
// must survive a write and a read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "state/ConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<kestrel::TCbSettings> cbs;
    kestrel::ConfigError error;
    std::vector<kestrel::ConfigNote> notes;
    const int rc = kestrel::ParseConfig(data, size, cbs, error, &notes);
    if (rc != 0) {
        // A refused file names where it failed, inside the file.
        if (rc != -2 || error.field.empty() || error.offset > size || !cbs.empty())
            std::abort();
        return 0;
    }
    if (cbs.size() > static_cast<size_t>(kestrel::kMaxCbCount))
        std::abort();
    const std::string image = kestrel::SerializeConfig(cbs);
    // Flag bytes are normalised and trailing bytes dropped, so the image is
    // never longer than the input.
    if (image.size() > size)
        std::abort();
    std::vector<kestrel::TCbSettings> again;
    if (kestrel::ParseConfig(reinterpret_cast<const uint8_t*>(image.data()), image.size(), again, error) != 0)
        std::abort();
    if (again != cbs)
        std::abort();
    return 0;
}
