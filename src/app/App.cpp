#include "app/App.h"

#include <QApplication>
#include <QMessageBox>

#include "app/QtPrompt.h"
#include "app/SingleInstance.h"
#include "check/ui/SettingsCheckForm.h"
#include "journal/ui/HistoryForm.h"
#include "link/ComPort.h"
#include "link/SerialDeviceOs.h"
#include "monitor/ProtocolAcqLink.h"
#include "protocol/Protocol.h"
#include "setup/ui/SetupWindows.h"
#include "state/Clock.h"
#include "walktest/ui/WalkTestForm.h"

namespace kestrel {

std::unique_ptr<TAcquisition> MakeDeviceAcquisition(TGlobalState& state, IUiHooks& hooks)
{
    auto acq = std::make_unique<TAcquisition>();
    // Where there are no COM names, the settings store maps COMn to a device.
    std::shared_ptr<ISettingsStore> store = MakeUserSettingsStore();
    std::shared_ptr<ISerialDevice> device = MakeOsSerialDevice(MakeSettingsPortResolver(*store));
    auto port = std::make_shared<TComPort>(*device);
    auto protocol = std::make_shared<TCbProtocol>(state, *port, SystemClock::Instance(), hooks);
    auto link = std::make_shared<TProtocolAcqLink>(*protocol);
    acq->Thread = std::make_unique<TGetDataThread>(state, *link, SystemClock::Instance(), hooks);
    // Kept in the order they depend on each other; released from the back.
    acq->Parts = {store, device, port, protocol, link};
    return acq;
}

int RunUtility()
{
    TSingleInstance instance;
    if (instance.Acquire() == TSingleInstance::Result::AlreadyRunning) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка запуска."),
                        QStringLiteral("Это приложение уже работает. Невозможно запустить второй экземпляр "
                                       "этого приложения."),
                        QMessageBox::Ok);
        box.exec();
        return 0;
    }

    TGlobalState state;
    std::unique_ptr<ISettingsStore> store = MakeUserSettingsStore();
    TQtPrompt prompt(state);
    TMainForm mainForm(state, *store, prompt);
    prompt.SetOwner(&mainForm);
    // The other windows, hidden until their menu item or tool button; owned
    // (and released) by the main window.
    // The journal window: created hidden, owned by the main window.
    AttachHistoryForm(mainForm, *new THistoryForm(state, mainForm.WaitUi(), &mainForm));
    AttachSetupWindows(mainForm, state, *store);
    // After the block setup window, whose button opens it too.
    AttachSettingsCheckForm(mainForm, state);
    AttachWalkTestForm(mainForm, state);

    if (mainForm.Startup(MakeDeviceAcquisition) == StartupResult::Exit) {
        mainForm.close();
        return 0;
    }
    mainForm.show();
    QApplication::exec();
    return 0;
}

}  // namespace kestrel
