// Driving the import wizard from tests as a person would: choosing pages'
// widgets by name, and answering the message boxes it opens.
#pragma once

#include <QComboBox>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

#include "wizard/import_wizard.h"

namespace tarn::addressbook::wizard::test {

std::string sj(const QString& text);

// While it lives, every message box that opens is recorded (title, text) and
// closed with its default button.
class MessageBoxCatcher {
public:
    MessageBoxCatcher();
    ~MessageBoxCatcher();
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;
    QStringList seen;  // "title|text|detailed text"

private:
    QTimer m_timer;
};

template <class T>
T* child(ImportWizard& w, const char* name) {
    return w.findChild<T*>(QString::fromLatin1(name));
}

// Chooses an item of a combo box by its text; false when it is not there.
bool choose(ImportWizard& w, const char* combo, const QString& text);
// Types into a line edit and leaves it, as the file boxes expect.
void typeAndLeave(ImportWizard& w, const char* edit, const QString& text);
QStringList items(ImportWizard& w, const char* combo);

// The sample table's columns onto the record (姓 + 名 as the name).
void mapSampleColumns(ImportWizard& w);
// Next until the ready page, then Finish; true when the wizard closed accepted.
bool finish(ImportWizard& w);

}  // namespace tarn::addressbook::wizard::test
