#include "setup/ui/SetupWindows.h"

#include "monitor/ui/MainForm.h"

namespace kestrel {

void AttachSetupWindows(TMainForm& mainForm, TGlobalState& state, ISettingsStore& store)
{
    // One line per window family; each creates its windows hidden.
    (void)mainForm;
    (void)state;
    (void)store;
}

}  // namespace kestrel
