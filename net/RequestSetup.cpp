#include "net/RequestSetup.h"

#include "core/UserOptions.h"
#include "net/HttpCli.h"
#include "net/TlsSession.h"
#include "platform/Cp1252.h"

void SetUpRequest(THttpCli& client, const SettingsFile& ini) {
    TlsTrust::SetCaFile(UserOptions::CaFile(ini));
    const bool useProxy = UserOptions::ProxyForRequests(ini);
    const QByteArray none;
    client.SetProxy(useProxy ? Cp1252::fromUnicode(UserOptions::ProxyServer(ini)) : none);
    client.SetProxyPort(useProxy ? Cp1252::fromUnicode(UserOptions::ProxyPortText(ini)) : none);
    client.SetProxyUsername(useProxy ? Cp1252::fromUnicode(UserOptions::ProxyName(ini)) : none);
    client.SetProxyPassword(useProxy ? Cp1252::fromUnicode(UserOptions::ProxyPass(ini)) : none);
    client.SetUsername(none);
    client.SetPassword(none);
}

void SetUpRequestThroughStoredProxy(THttpCli& client, const SettingsFile& ini) {
    TlsTrust::SetCaFile(UserOptions::CaFile(ini));
    const QByteArray server = Cp1252::fromUnicode(UserOptions::ProxyServer(ini));
    const bool viaProxy = !server.isEmpty();
    const QByteArray none;
    client.SetProxy(server);
    client.SetProxyPort(Cp1252::fromUnicode(UserOptions::ProxyPortText(ini)));
    client.SetProxyUsername(viaProxy ? Cp1252::fromUnicode(UserOptions::ProxyName(ini)) : none);
    client.SetProxyPassword(viaProxy ? Cp1252::fromUnicode(UserOptions::ProxyPass(ini)) : none);
    client.SetUsername(none);
    client.SetPassword(none);
}
