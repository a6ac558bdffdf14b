#pragma once
// "Файл конфигурации": chooses the configuration file for the rest of the
// run (the stored setting stays as it is). "Найти" loads the chosen file;
// "Сохранить как" only changes where the next save writes.
#include <QWidget>
#include <functional>
#include <string>

#include "state/Model.h"
#include "state/Prompt.h"

class QLineEdit;
class QPushButton;

namespace kestrel {

class TFileCfgForm : public QWidget {
    Q_OBJECT
public:
    // loaded: runs after a file was read (the caller refreshes what it shows).
    TFileCfgForm(TGlobalState& state, std::function<void()> loaded, QWidget* parent = nullptr);

    // The dialogs and the message; virtual so tests can answer them. Paths
    // in UTF-8, as CfgFilePath holds them; a chosen path that cannot be kept
    // whole is refused with a message and changes nothing.
    virtual bool ChooseOpen(std::string& path);
    virtual bool ChooseSave(std::string& path);
    virtual void Message(const std::string& text, const std::string& caption, PromptIcon icon);

    // Tests answer the dialogs and see the message here instead.
    std::function<bool(bool save, std::string& path)> ChooseHook;
    std::function<void(const std::string& text, const std::string& caption)> MessageHook;

    QLineEdit* Edit1 = nullptr;
    QPushButton* bbFind = nullptr;
    QPushButton* bbSaveAs = nullptr;
    QPushButton* bbClose = nullptr;

public slots:
    void bbFindClick();
    void bbSaveAsClick();

private:
    TGlobalState& state_;
    std::function<void()> loaded_;
};

}  // namespace kestrel
