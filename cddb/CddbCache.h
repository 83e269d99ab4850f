#pragma once
// The local cache of fetched entries: one xmcd file per category and disc ID
// (DIR/category/discid, UTF-8), so that a disc named once is named again without the network.
#include <string>

namespace ql {

// $XDG_CACHE_HOME/quillon/cddb, else $HOME/.cache/quillon/cddb; empty when neither is set.
std::string CddbDefaultCacheDir();

// The entry text of a "cddb read" reply: the lines between the status line and the closing
// ".", dot-stuffing removed, each ended by CR LF.
std::string CddbEntryBody(const std::string& reply);
// The reverse: a read reply as the server would send it.
std::string CddbEntryReply(const std::string& category, const std::string& disc_id,
                           const std::string& body);

// Category words and disc IDs as servers use them; anything else is never a file name.
bool CddbValidCategory(const std::string& category);
bool CddbValidDiscID(const std::string& disc_id);

// The first category (in name order) holding disc_id; false when none does or dir is empty.
bool CddbCacheFind(const std::string& dir, const std::string& disc_id, std::string& category,
                   std::string& body);
// Writes the entry under its final name only when complete; false (nothing written) for names
// that are not valid or when the file cannot be written.
bool CddbCacheStore(const std::string& dir, const std::string& category, const std::string& disc_id,
                    const std::string& body);

}  // namespace ql
