#pragma once

#include "platform/Clipboard.h"
#include "platform/FileDialogs.h"
#include "platform/MessageBoxes.h"
#include "platform/Registry.h"
#include "platform/Shell.h"

// The desktop services a window needs, handed in from outside so that tests can put
// recording doubles in their place.
struct Platform {
    IMessageBoxes& messages;
    IFileDialogs& dialogs;
    IShell& shell;
    IClipboard& clipboard;
    IRegistry& registry;
};
