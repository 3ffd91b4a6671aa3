// The Load command's open-file dialog.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace zel::app {

// The dialog's first name: the folder, "/" unless the folder is the root,
// then "*.wmv".
QString InitialFileName(const QString& currentFolder);

// The filters, one per kind of input, as Qt's file dialog takes them: each
// shows its label ("WMVファイル(*.wmv)", ...) and matches its patterns in
// either case, as the type check does.
QStringList OpenFileFilters();

// Asks for an existing file: (owner, initial name) -> its path, or an empty
// text when the user cancelled.
using FileChooser = std::function<QString(QWidget*, const QString&)>;

// The open-file dialog, the chooser the window uses unless told otherwise.
QString ChooseInputFile(QWidget* owner, const QString& initialName);

}  // namespace zel::app
