#pragma once

#include <QByteArray>

// The record stores' searches and the other web links of the favourites and thank-you
// pages. The searches take the user's text already encoded as a query value.
namespace StoreLinks {

inline constexpr char kAmazonHost[] = "http://www.amazon.com";
inline constexpr char kAmazonDomain[] = "amazon.com";
inline constexpr char kMusicBoulevardHost[] = "http://www.musicblvd.com";
inline constexpr char kMusicBoulevardDomain[] = "musicblvd.com";
inline constexpr char kGoZillaUrl[] = "http://www.gozilla.com/";
inline constexpr char kZipUtilityUrl[] = "http://www.winzip.com/";
inline constexpr char kMakerUrl[] = "http://www.pellmar.net/";

enum class MusicBoulevardSearch { Artist, Album, Song };

QByteArray amazonSearch(const QByteArray& encodedText);
QByteArray musicBoulevardSearch(MusicBoulevardSearch by, const QByteArray& encodedText);
// "Vesk's Top 100 Favourite records" on the Music Boulevard site.
QByteArray topHundredList();

} // namespace StoreLinks
