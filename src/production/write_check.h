// The checks a run makes before its first device of every file it will write (the record, the
// spool, a unit counter, a list's position): a file that cannot be written then would cost a
// unit its record or its number. Nothing is left behind by a check.
#pragma once

#include <string>

namespace vantor::production {

// Whether `path` can be appended to: an existing file opened for writing (not created), or a
// new one created in its folder and removed again. False with `error` naming `what` (such as
// "the record") and the reason.
bool CheckWritable(const std::string& path, const std::string& what, std::string& error);

}  // namespace vantor::production
