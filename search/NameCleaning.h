#pragma once

#include <QByteArray>

// The names of result links: what is stripped from the text of a link, how it is brought
// into shape, and which names are refused. Text is Windows-1252; every comparison is
// case-sensitive.

// Deletes the junk of a link text (":", "*", "?", "&nbsp;", "&amp;", ".mp3", ...), entry by
// entry in a fixed order, each until none is left. A removal that joins pieces into an
// occurrence of an entry already passed leaves that occurrence.
QByteArray CleanLinkText(const QByteArray& text);

// False when the name holds any of the refused pieces (links, HTML, a few symbols).
bool IsAcceptableName(const QByteArray& name);

// Lower-cases the ASCII letters, capitals the first character and every one after a blank,
// turns "_" into blanks, puts blanks around "-", and deletes leftovers of HTML ("alt=\"",
// "www.", ...): "my_song-live" becomes "My Song - Live".
QByteArray NormalizeName(const QByteArray& name);

// Blanks and control characters removed from both ends.
QByteArray TrimBlanks(const QByteArray& text);

// The display name of a result link's raw text: cleaned, trimmed and normalised. Empty
// when the link is to be skipped (nothing left, or a refused name).
QByteArray PrepareDisplayName(const QByteArray& rawLinkText);

// The same for the UTF-8 text of a link on a page of our service (search/EngineCharset.h),
// as a hit text (core/HitText.h): a name Windows-1252 can hold becomes exactly what
// PrepareDisplayName makes of it, any other one the same cleaning and the same refusals on its
// characters, kept as marked UTF-8.
QByteArray PrepareUtf8DisplayName(const QByteArray& rawLinkText);
