#include "http/tools/location.h"

#include <cctype>

namespace vyra_http {

namespace {

struct parts {
  std::string scheme;     // without ':'; "" when absent
  bool has_authority = false;
  std::string authority;  // without "//"
  std::string path;
  bool has_query = false;
  std::string query;      // without '?'
};

// Splits a URI reference into its parts (RFC 3986, appendix B); the fragment is dropped.
parts split(const std::string& s) {
  parts p;
  size_t end = s.find('#');
  std::string text = end == std::string::npos ? s : s.substr(0, end);
  size_t i = 0;
  size_t colon = text.find(':');
  if (colon != std::string::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(text[0]))) {
    bool scheme = true;
    for (size_t k = 1; k < colon; ++k) {
      char c = text[k];
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') scheme = false;
    }
    if (scheme) {
      p.scheme = text.substr(0, colon);
      i = colon + 1;
    }
  }
  if (text.compare(i, 2, "//") == 0) {
    size_t a = i + 2;
    size_t e = text.find_first_of("/?", a);
    if (e == std::string::npos) e = text.size();
    p.has_authority = true;
    p.authority = text.substr(a, e - a);
    i = e;
  }
  size_t q = text.find('?', i);
  p.path = text.substr(i, q == std::string::npos ? std::string::npos : q - i);
  if (q != std::string::npos) {
    p.has_query = true;
    p.query = text.substr(q + 1);
  }
  return p;
}

// RFC 3986 5.2.4.
std::string remove_dot_segments(std::string in) {
  std::string out;
  while (!in.empty()) {
    if (in.compare(0, 3, "../") == 0) {
      in.erase(0, 3);
    } else if (in.compare(0, 2, "./") == 0) {
      in.erase(0, 2);
    } else if (in.compare(0, 3, "/./") == 0) {
      in.erase(0, 2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.compare(0, 4, "/../") == 0 || in == "/..") {
      in = in.size() == 3 ? "/" : in.substr(3);
      size_t last = out.rfind('/');
      out.erase(last == std::string::npos ? 0 : last);
    } else if (in == "." || in == "..") {
      in.clear();
    } else {
      size_t next = in.find('/', in[0] == '/' ? 1 : 0);
      out += in.substr(0, next);
      in.erase(0, next == std::string::npos ? in.size() : next);
    }
  }
  return out;
}

std::string join(const parts& p) {
  std::string s = p.scheme + ":";
  if (p.has_authority) s += "//" + p.authority;
  s += p.path;
  if (p.has_query) s += "?" + p.query;
  return s;
}

}  // namespace

std::string resolve_location(const std::string& base_text, const std::string& location) {
  parts base = split(base_text.find("://") == std::string::npos ? "http://" + base_text : base_text);
  parts r = split(location);
  parts t;
  if (!r.scheme.empty()) {
    t = r;
    t.path = remove_dot_segments(r.path);
  } else {
    t.scheme = base.scheme;
    if (r.has_authority) {
      t.has_authority = true;
      t.authority = r.authority;
      t.path = remove_dot_segments(r.path);
      t.has_query = r.has_query;
      t.query = r.query;
    } else {
      t.has_authority = base.has_authority;
      t.authority = base.authority;
      if (r.path.empty()) {
        t.path = base.path;
        t.has_query = r.has_query || base.has_query;
        t.query = r.has_query ? r.query : base.query;
      } else {
        if (r.path[0] == '/') {
          t.path = remove_dot_segments(r.path);
        } else {
          // Merge: the base path up to its last '/', then the reference.
          std::string merged;
          if (base.has_authority && base.path.empty()) {
            merged = "/" + r.path;
          } else {
            size_t slash = base.path.rfind('/');
            merged = (slash == std::string::npos ? "" : base.path.substr(0, slash + 1)) + r.path;
          }
          t.path = remove_dot_segments(merged);
        }
        t.has_query = r.has_query;
        t.query = r.query;
      }
    }
  }
  return join(t);
}

std::string origin_of(const std::string& url) {
  parts p = split(url.find("://") == std::string::npos ? "http://" + url : url);
  std::string scheme = p.scheme;
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string authority = p.authority.substr(p.authority.rfind('@') == std::string::npos ? 0 : p.authority.rfind('@') + 1);
  for (char& c : authority) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // An IPv6 address is in brackets: a port is a ':' after the ']'.
  size_t host_end = authority.empty() || authority[0] != '[' ? 0 : authority.find(']');
  if (host_end == std::string::npos) host_end = 0;
  if (authority.find(':', host_end) == std::string::npos) {
    if (scheme == "http") authority += ":80";
    if (scheme == "https") authority += ":443";
  }
  return scheme + "://" + authority;
}

}  // namespace vyra_http
