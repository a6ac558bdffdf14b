#include "app/App.h"

#include <QApplication>
#include <QMessageBox>

#include "app/QtPrompt.h"
#include "app/SingleInstance.h"
#include "link/ComPort.h"
#include "link/SerialDeviceOs.h"
#include "monitor/ProtocolAcqLink.h"
#include "protocol/Protocol.h"
#include "state/Clock.h"

namespace kestrel {

std::string MappedPortPath(ISettingsStore& store, int32_t portNumber)
{
    std::string path;
    const std::string key = kRegKeyPorts + "\\COM" + std::to_string(portNumber);
    if (store.ReadRegString(key, path) != 0)
        return {};
    return path;
}

std::unique_ptr<TAcquisition> MakeDeviceAcquisition(TGlobalState& state, IUiHooks& hooks, ISettingsStore& store)
{
    auto acq = std::make_unique<TAcquisition>();
    std::shared_ptr<ISerialDevice> device =
        MakeOsSerialDevice([&store](int32_t n) { return MappedPortPath(store, n); });
    auto port = std::make_shared<TComPort>(*device);
    auto protocol = std::make_shared<TCbProtocol>(state, *port, SystemClock::Instance(), hooks);
    auto link = std::make_shared<TProtocolAcqLink>(*protocol);
    acq->Thread = std::make_unique<TGetDataThread>(state, *link, SystemClock::Instance(), hooks);
    // Kept in the order they depend on each other; released from the back.
    acq->Parts = {device, port, protocol, link};
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

    const auto make = [&store](TGlobalState& s, IUiHooks& h) { return MakeDeviceAcquisition(s, h, *store); };
    if (mainForm.Startup(make) == StartupResult::Exit) {
        mainForm.close();
        return 0;
    }
    mainForm.show();
    QApplication::exec();
    return 0;
}

}  // namespace kestrel
