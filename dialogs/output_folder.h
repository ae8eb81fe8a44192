// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The output-folder field shared by the cut and join settings dialogs: the
// Browse button's picker loop and the test a start press makes before it
// accepts the folder.

#include <QString>

class QLineEdit;
class QWidget;

namespace dialogs {

// The probe file the folder test creates in the chosen folder.
extern const QString kProbeFileName;

// Opens the folder picker until the user cancels or picks an existing folder;
// a picked folder goes into `field` and into PATH/name of setting.ini.
void BrowseOutputFolder(QWidget* dialog, QLineEdit* field);

// True when `folder` exists and a file can be made in it. Otherwise tells the
// user why (`missingText` for a folder that is not there; a folder that takes
// no file is named with `format`, "MP4") and returns false.
bool CheckOutputFolder(QWidget* dialog, const QString& folder, const QString& missingText,
                       const QString& format);

// The word a message names an output format by: "MP4" for ".mp4" or "a.mp4".
QString FormatWord(const QString& extensionOrPath);

}  // namespace dialogs
