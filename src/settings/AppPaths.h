#pragma once

// Where the application keeps its files, from the XDG base directories of the environment, so a
// test points them at a private home by setting the variables.

#include <QString>

namespace vantel::AppPaths {

// $XDG_DATA_HOME/vantel-record: the library index and thumbnails. Created with its parents on
// every call; a failure to create it is ignored and the path returned anyway (the first write
// into it then reports the problem).
QString appSupport();

// The XDG videos folder + "/Vantel Record" ($HOME/Videos when no videos folder is known). Not
// created here: the clip folder is made when the first clip is saved.
QString defaultClipFolder();

// $XDG_CONFIG_HOME/vantel-record/settings.ini: the settings store.
QString configFile();

} // namespace vantel::AppPaths
