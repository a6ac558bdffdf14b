// kestrel-utilite: the service and monitoring utility. No arguments.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "app/App.h"
#include "app/QtPrompt.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KestrelUtilite"));
    // Qt's own buttons, file dialogs and text-field menus speak Russian too.
    kestrel::InstallRussianTranslations(app);
    try {
        return kestrel::RunUtility();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("KestrelUtilite"), QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QStringLiteral("KestrelUtilite"), QStringLiteral("Неизвестная ошибка"));
    }
    return 0;
}
