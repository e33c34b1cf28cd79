#pragma once

#include <QIcon>
#include <QList>

// The pictures of the two lists' image lists and of the small dialogs, drawn with
// QPainter in 16, 24, 32 and 48 pixels so they stay sharp on any screen.
namespace ListPictures {

// The hit list, by image index: 0 the file meets the quality settings (a happy face),
// 1 its quality is unknown (a neutral face), 2 it is below the settings (a sad face),
// 3 a plain note for a file.
QList<QIcon> hitImages();

// The host list, by image index: 0 FTP sites (a folder with a transfer arrow), 1 a server,
// 2 HTTP sites (a globe), 3 SMB shares (a networked computer).
QList<QIcon> hostImages();

// The icon of the group select and find dialogs: a magnifier over a list.
QIcon dialogIcon();

} // namespace ListPictures
