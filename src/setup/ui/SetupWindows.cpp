#include "setup/ui/SetupWindows.h"

#include "monitor/ui/MainForm.h"
#include "setup/ui/SetupUirForm.h"
#include "setup/ui/SetupCbForm.h"
#include "setup/ui/Rs485SetupForm.h"

namespace kestrel {

void AttachSetupWindows(TMainForm& mainForm, TGlobalState& state, ISettingsStore& store)
{
    // One line per window family; each creates its windows hidden.
    AttachUirAndCfgWindows(mainForm, state, store);
    AttachSetupCbWindows(mainForm, state);
    AttachRs485SetupForm(mainForm, state, store);
    (void)mainForm;
    (void)state;
    (void)store;
}

}  // namespace kestrel
