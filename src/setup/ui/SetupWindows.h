#pragma once
// Creates the setup windows (hidden) and registers them with the main window,
// which owns and releases them.
namespace kestrel {

class TMainForm;
class TGlobalState;
class ISettingsStore;

void AttachSetupWindows(TMainForm& mainForm, TGlobalState& state, ISettingsStore& store);

}  // namespace kestrel
