// The database's connection text as people may see it: a password in it (postgresql://USER:PW@...,
// ?password=PW, or the keyword form password=PW) shown as "***". Every message, line and record
// that shows the URL, and every libpq message about it, goes through here.
#pragma once

#include <string>
#include <string_view>

namespace vantor::production {

// `conninfo` (a URL or a keyword=value connection string) with its password masked.
std::string MaskPassword(std::string_view conninfo);

// `text` (a message of libpq's, which may echo parts of the connection string) with every
// password of `conninfo` masked, as written and percent-decoded.
std::string MaskPasswordsIn(std::string_view text, std::string_view conninfo);

}  // namespace vantor::production
