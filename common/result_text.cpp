#include "common/result_text.h"

namespace {

// The codes every module may return (the shared helpers, the tracked allocator, the
// event handlers, the status callback of the HTTP library).
constexpr result_meaning kShared[] = {
    {-1, "invalid input or a failure without a code of its own"},
    {-2, "failure without a code of its own"},
    {-20, "cancelled by the user"},
    {-2000, "out of memory"},
    {-2001, "text conversion failed"},
    {-2002, "missing input"},
    {-2003, "a file could not be created"},
    {-2007, "missing event, or an argument out of range"},
    {-2011, "the program's own path is unavailable"},
    {-2013, "blank text"},
};

const char* find(int code, std::span<const result_meaning> table) {
  for (const result_meaning& m : table)
    if (m.code == code) return m.meaning;
  return nullptr;
}

}  // namespace

const char* shared_result_meaning(int code) { return find(code, kShared); }

std::string result_text(int code, std::span<const result_meaning> module) {
  const char* meaning = find(code, module);
  if (meaning == nullptr) meaning = shared_result_meaning(code);
  return std::to_string(code) + " " + (meaning != nullptr ? meaning : "(no meaning known)");
}
