#pragma once
// The tool bar's pictures, drawn in code so the program needs no image files.
#include <QIcon>

namespace kestrel {

enum class TToolIcon { Exit, Configuration, Journal, Reset, Console };

QIcon ToolIcon(TToolIcon which);

}  // namespace kestrel
