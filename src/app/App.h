#pragma once
// Program entry pieces: the real acquisition (OS serial device, port,
// protocol, thread) and the whole run of the utility.
#include <memory>

#include "monitor/ui/MainForm.h"
#include "state/SettingsStore.h"

namespace kestrel {

// The acquisition thread over the platform's serial ports. On systems
// without COM ports, port n opens the device the settings store maps COMn to
// (value "COMn" of the key "Software\KestrelUtilite\Ports").
std::unique_ptr<TAcquisition> MakeDeviceAcquisition(TGlobalState& state, IUiHooks& hooks);

// The whole program after QApplication exists; returns the exit code (0).
int RunUtility();

}  // namespace kestrel
