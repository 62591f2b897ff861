// The start-up form's file dialogs: filter "Velto track file (*.vlt)|*.vlt|
// All files (*.*)|*.*", default extension "vlt", initial folder ./tracks.
#pragma once

#include <functional>
#include <string>

// The open dialog: the chosen file must exist. True and the full path in
// `path` when a file was chosen; false when cancelled.
bool runOpenDialog(std::string& path);
// The save dialog: `path` holds the proposed name on entry and the chosen
// full path on return; asks before overwriting. False when cancelled.
bool runSaveDialog(std::string& path);

// Tests answer the dialogs themselves: while a handler is set it is called
// instead (save = true for the save dialog) and its result is returned.
using FileDialogHandler = std::function<bool(bool save, std::string& path)>;
void setFileDialogHandler(FileDialogHandler handler);

// The rules behind the dialogs, without a toolkit.
// The "Name|pattern|Name|pattern" filter in the chooser's form: one
// "Name\tpattern" per line; "*.*" becomes "*" (every file, dotted or not).
std::string chooserFilter(const std::string& filter);
// `path` with ".vlt" appended when its file name has no extension.
std::string withDefaultExtension(const std::string& path);
// What the open dialog makes of a name the chooser returned: the name, or
// the name with ".vlt" when only that exists, as an absolute path in
// `chosen`. False, after telling the player, when neither file exists.
bool settleOpenName(const std::string& typed, std::string& chosen);
// What the save dialog makes of a typed name: the absolute path with the
// default extension in `chosen`. When the extension was added and names an
// existing file, the player is asked whether to replace it; false for No.
bool settleSaveName(const std::string& typed, std::string& chosen);
// The dialogs' starting folder: the absolute path of ./tracks when it is a
// folder, else the current directory.
std::string initialDialogFolder();
