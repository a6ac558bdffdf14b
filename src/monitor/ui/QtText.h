#pragma once
// Small pieces every window shares: the core's UTF-8 texts as QString, the
// message-box icon of a prompt icon, and a push button that never becomes
// the default (Enter in a list or field must not press it).
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <string>

#include "state/Prompt.h"

namespace kestrel {

inline QString Q(const char* utf8) { return QString::fromUtf8(utf8); }
inline QString Q(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline QMessageBox::Icon BoxIcon(PromptIcon icon)
{
    switch (icon) {
    case PromptIcon::Warning: return QMessageBox::Warning;
    case PromptIcon::Error: return QMessageBox::Critical;
    case PromptIcon::Question: return QMessageBox::Question;
    case PromptIcon::Information: return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

inline QPushButton* Button(QWidget* parent, const char* text, const char* name)
{
    auto* b = new QPushButton(Q(text), parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

}  // namespace kestrel
