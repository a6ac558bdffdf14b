#include "monitor/ui/FileTypes.h"

#include <QFileInfo>

namespace kestrel {

QString TRussianFileTypes::type(const QFileInfo& info) const
{
    if (info.isRoot())
        return QStringLiteral("Диск");
    if (info.isDir())
        return QStringLiteral("Папка");
    if (info.isSymLink())
        return QStringLiteral("Ярлык");
    const QString suffix = info.suffix();
    return suffix.isEmpty() ? QStringLiteral("Файл") : QStringLiteral("Файл %1").arg(suffix);
}

}  // namespace kestrel
