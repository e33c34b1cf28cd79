#pragma once

class SettingsFile;
class THttpCli;

// Gives a client the user's proxy, read from the settings at the moment of use: the server
// and port while "UseProxy" is anything but "False", none otherwise. The proxy's name and
// password go out as proxy credentials and only while a proxy is in use, so that no file
// host or search service ever sees them.
// The CA file of the options ("CaFile") is trusted for https from then on.
void SetUpRequest(THttpCli& client, const SettingsFile& ini);

// For reports sent to the search service: the proxy server and port as they stand in the
// settings, whatever "UseProxy" says (an empty server means a direct connection). The
// credentials go to that proxy only.
void SetUpRequestThroughStoredProxy(THttpCli& client, const SettingsFile& ini);
