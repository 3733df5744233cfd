// Where the program finds its files: the fixed files beside the executable,
// the per-user work folder and the settings file.
#pragma once

#include <QString>

namespace tab::gui {

// The folder of the executable, without a trailing separator; fixed for the run.
QString applicationFolder();
// Tests run the windows against a folder of their own.
void setApplicationFolder(const QString& folder);

// The work folder, without a trailing separator. "TEMP" when it names a
// folder only we can change: a real folder (not a symbolic link) owned by the
// current user and writable by neither group nor others. Otherwise (unset,
// empty, missing, a shared or another user's folder) the private folder
// "tabulary" in the XDG state home ($XDG_STATE_HOME, else ~/.local/state),
// created owner-only (0700) when missing; "" when it cannot be created.
QString tempFolder();

// Where the user keeps templates of their own: $XDG_DATA_HOME/tabulary/templates,
// else ~/.local/share/tabulary/templates. Not created here.
QString userTemplatesFolder();

// Where workbooks handed to the desktop's spreadsheet program are kept, as
// the program never deletes them: $XDG_DATA_HOME/tabulary/workbooks, else
// ~/.local/share/tabulary/workbooks. Not created here.
QString keptWorkbooksFolder();

// Creates `folder` and its missing parents, each owner-only (0700), as XDG
// asks of folders made by a program. True when it is a folder afterwards.
bool makePrivateFolder(const QString& folder);

// $XDG_CONFIG_HOME/Quillmoor.ini, else ~/.config/Quillmoor.ini.
QString settingsFilePath();

}  // namespace tab::gui
