#include "service/StoreLinks.h"

namespace {

// The session and partner identifiers the stores credit the program's referrals to.
constexpr char kAmazonSession[] = "104-5736281-3904417";
constexpr char kMusicBoulevardPartner[] = "58261";

} // namespace

namespace StoreLinks {

QByteArray amazonSearch(const QByteArray& encodedText) {
    return QByteArray(kAmazonHost) + "/exec/obidos/external-search/" + kAmazonSession +
           "?tag=vesk&mode=music&keyword=" + encodedText;
}

QByteArray musicBoulevardSearch(MusicBoulevardSearch by, const QByteArray& encodedText) {
    const char* type = by == MusicBoulevardSearch::Artist  ? "artist"
                       : by == MusicBoulevardSearch::Album ? "album"
                                                           : "song";
    return QByteArray(kMusicBoulevardHost) + "/cgi-bin/tw?SID=" + kMusicBoulevardPartner +
           "&MT=41&limit=200&STORE=all&search_type=" + type + "&search_term=" + encodedText;
}

QByteArray topHundredList() {
    return QByteArray(kMusicBoulevardHost) + "/cgi-bin/tw/" + kMusicBoulevardPartner +
           "_0_lists/t100.txt";
}

} // namespace StoreLinks
