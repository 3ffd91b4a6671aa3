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
// either case, as the type check does. With anyInput (the anyinput
// setting) "すべてのメディアファイル" comes before "All Files".
QStringList OpenFileFilters(bool anyInput = false);

// Asks for an existing file: (owner, initial name, filters) -> its path, or
// an empty text when the user cancelled.
using FileChooser = std::function<QString(QWidget*, const QString&, const QStringList&)>;

// The open-file dialog, the chooser the window uses unless told otherwise.
QString ChooseInputFile(QWidget* owner, const QString& initialName, const QStringList& filters);

}  // namespace zel::app
