#pragma once

// The first search engine's page markers, as its pages carry them in plain text. The
// scraper finds paging and result links by these substrings; the local service writes
// its pages so that they hold them.
namespace FirstEngineMarkers {

// A line holding it carries a paging link.
inline constexpr char kPagingLine[] = "<a href=\"search.asp?since=&searchwords=";
// Where the paging link starts, and the text that ends it.
inline constexpr char kPagingStart[] = "search.asp?since=&searchwords=";
inline constexpr char kPagingEnd[] = "\"><IMG SRC=\"/mediabot/";
// Some line holds it when the page has a result table.
inline constexpr char kResultTable[] = "<TR><TD B";
// The last line holds one of them when nothing matched or the service failed.
inline constexpr char kNoRecords[] = "No records found";
inline constexpr char kServerError[] = "Server Error";
// Starts each result link in the last line; a link without kFileLink is not a file.
inline constexpr char kResultLink[] = "0><a href=\"";
inline constexpr char kFileLink[] = "http://";
// Paging links are relative to this folder of the service host.
inline constexpr char kPageFolder[] = "/cgi-bin/mp3asp/";
// The service page the engine's requests name as their referrer.
inline constexpr char kReferencePage[] = "/cgi-bin/mp3asp/body_main.asp";

} // namespace FirstEngineMarkers
