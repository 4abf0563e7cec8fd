// Where a redirect leads: the Location of a response resolved against the URL of the
// request (RFC 3986, section 5.2), for vyra-http's -L. Pure text work; no I/O.
#pragma once

#include <string>

namespace vyra_http {

// The absolute URL that location names when read against base. A base without a scheme
// counts as http (as the library reads it); the location's fragment is dropped; "." and
// ".." path segments are removed.
std::string resolve_location(const std::string& base, const std::string& location);

// "scheme://host:port" of a URL, lower-cased, with the scheme's port when none is written
// (80 for http, 443 for https): two URLs of the same origin give the same text.
std::string origin_of(const std::string& url);

}  // namespace vyra_http
